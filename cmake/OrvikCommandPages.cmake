# Script mode (cmake -P): one manual page per command of the orvik tool,
# made by help2man from the command's own --help.  The list of commands
# comes from the tool (`orvik --list-commands`), so a new command gets its
# page without anyone writing it down.  Each page is named after the
# command's path (orvik-update.1, orvik-card-format.1; orvik-sim.1 is also
# the page of the orvik-sim program, which is `orvik sim`).
#
#   ORVIK      the tool            OUT_DIR   where the pages go (emptied first)
#   HELP2MAN   help2man            GZIP      gzip
#   VERSION    the version the pages give
foreach(variable ORVIK HELP2MAN GZIP OUT_DIR VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "OrvikCommandPages.cmake needs -D${variable}=...")
  endif()
endforeach()

execute_process(COMMAND ${ORVIK} --list-commands OUTPUT_VARIABLE listing
                RESULT_VARIABLE listed)
if(NOT listed EQUAL 0 OR listing STREQUAL "")
  message(FATAL_ERROR "${ORVIK} --list-commands failed (${listed})")
endif()

file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR}/programs)
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(pages "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(FIND "${line}" "\t" tab)
  string(SUBSTRING "${line}" 0 ${tab} path)
  math(EXPR after "${tab} + 1")
  string(SUBSTRING "${line}" ${after} -1 description)
  string(REPLACE " " "-" name "orvik-${path}")
  # help2man names the page after the program it runs: a program of the
  # command's name that runs `orvik PATH`.
  set(program ${OUT_DIR}/programs/${name})
  file(WRITE ${program} "#!/bin/sh\nexec '${ORVIK}' ${path} \"$@\"\n")
  file(CHMOD ${program} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
             GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${description}"
            --version-string=${VERSION} --output=${OUT_DIR}/${name}.1 ${program}
    RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "help2man failed for `orvik ${path}`")
  endif()
  execute_process(COMMAND ${GZIP} -9nf ${OUT_DIR}/${name}.1 RESULT_VARIABLE zipped)
  if(NOT zipped EQUAL 0)
    message(FATAL_ERROR "gzip failed for ${name}.1")
  endif()
  list(APPEND pages ${name}.1.gz)
endforeach()
file(REMOVE_RECURSE ${OUT_DIR}/programs)
list(JOIN pages "\n" page_list)
file(WRITE ${OUT_DIR}/pages.txt "${page_list}\n")
