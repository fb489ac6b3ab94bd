# Manual pages, made at build time so that they follow the code as it
# changes: orvik.1 by help2man from the tool's --help (and --version), one
# page per command (orvik-update.1, ..., orvik-sim.1 for the orvik-sim
# program too) from each command's --help, the list of commands taken from
# the tool itself (cmake/OrvikCommandPages.cmake), and orvik.3, the
# library's interface, written by hand (docs/man/orvik.3) and compressed.
# Without help2man, or when the programs cannot run on the build machine,
# there are no manual pages of the programs (said once here).
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

if(WIN32)
  return()
endif()
# The library's page goes with the development files (liborvik-dev).
if(ORVIK_GZIP)
  set(library_page ${PROJECT_BINARY_DIR}/man/orvik.3.gz)
  add_custom_command(
    OUTPUT ${library_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/orvik.3
            ${PROJECT_BINARY_DIR}/man/orvik.3
    COMMAND ${ORVIK_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/orvik.3
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/orvik.3
    COMMENT "Compressing the manual page of the library"
    VERBATIM)
  add_custom_target(orvik_library_man_page ALL DEPENDS ${library_page})
  install(FILES ${library_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
endif()

if(CMAKE_CROSSCOMPILING)
  return()
elseif(NOT ORVIK_HELP2MAN OR NOT ORVIK_GZIP)
  message(STATUS "help2man or gzip not found: no manual pages of the programs")
  return()
endif()
orvik_add_man_page(orvik_tool orvik "inspect, update and format a flash-memory audio player")

# A page per command, orvik-sim.1 among them (the group's help lists every
# command and option of simulated players).
if(TARGET orvik_tool)
  set(command_pages ${PROJECT_BINARY_DIR}/man/commands)
  add_custom_command(
    OUTPUT ${command_pages}/pages.txt
    COMMAND ${CMAKE_COMMAND} -DORVIK=$<TARGET_FILE:orvik_tool> -DHELP2MAN=${ORVIK_HELP2MAN}
            -DGZIP=${ORVIK_GZIP} -DOUT_DIR=${command_pages} -DVERSION=${PROJECT_VERSION} -P
            ${CMAKE_CURRENT_LIST_DIR}/OrvikCommandPages.cmake
    DEPENDS orvik_tool ${CMAKE_CURRENT_LIST_DIR}/OrvikCommandPages.cmake
    COMMENT "Writing the manual page of every orvik command"
    VERBATIM)
  add_custom_target(orvik_command_man_pages ALL DEPENDS ${command_pages}/pages.txt)
  install(DIRECTORY ${command_pages}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools
          FILES_MATCHING PATTERN "*.1.gz")
endif()
