# Manual pages of the programs, made at build time by help2man from each
# program's own --help (and orvik's --version), so that they follow the
# commands as they change.  Without help2man, or when the programs cannot
# run on the build machine, there are no manual pages (said once here).
find_program(ORVIK_HELP2MAN help2man)
find_program(ORVIK_GZIP gzip)

function(orvik_add_man_page target page description)
  if(NOT TARGET ${target})
    return()
  endif()
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(page_file ${man_dir}/${page}.1)
  add_custom_command(
    OUTPUT ${page_file}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${ORVIK_HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${description}"
            ${ARGN} --output=${page_file} $<TARGET_FILE:${target}>
    COMMAND ${ORVIK_GZIP} -9nf ${page_file}
    DEPENDS ${target}
    COMMENT "Writing the manual page of ${page}"
    VERBATIM)
  add_custom_target(${page}_man_page ALL DEPENDS ${page_file}.gz)
  install(FILES ${page_file}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()

if(CMAKE_CROSSCOMPILING OR WIN32)
  return()
elseif(NOT ORVIK_HELP2MAN OR NOT ORVIK_GZIP)
  message(STATUS "help2man or gzip not found: no manual pages")
  return()
endif()
orvik_add_man_page(orvik_tool orvik "inspect, update and format a flash-memory audio player")
# orvik-sim is `orvik sim` under the simulator's name: its page is the
# group's help, which lists every command and option of simulated players.
orvik_add_man_page(orvik-sim orvik-sim "create, serve and inspect simulated players (orvik sim)"
                   --version-string=${PROJECT_VERSION})
