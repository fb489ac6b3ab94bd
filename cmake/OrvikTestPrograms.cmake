# Which test programs a build makes, and how a cross build for Windows runs
# them.
#
# ORVIK_TEST_PROGRAMS names the folders of tests/ to build (all when empty);
# the Windows presets list the programs that need no POSIX tool.  The folder
# tests/windows holds Windows-only tests and is built for Windows only.
#
# On Windows, the test files listed in ORVIK_POSIX_ONLY_TESTS are left out
# of their program: judges that run POSIX tools (fsck.fat, mtools, srec_cat)
# and files that use POSIX interfaces (unistd.h, sockets, popen, setenv,
# fork...).  The host events of orvik/posix.h exist on Windows too (as Win32
# events), so tests using them run.  Every other file of a program is built,
# so new portable tests join the Windows programs without any change here; a
# new test file that needs POSIX is added to the list.
set(ORVIK_TEST_PROGRAMS "" CACHE STRING
    "Test programs (folders of tests/) to build, separated by ';'; empty: all")

set(ORVIK_POSIX_ONLY_TESTS
    api/reservation_test.cpp                # setenv
    card_format/card_volume_judge_test.cpp  # fsck.fat, mtools
    card_layout/card_volume_judge_test.cpp  # fsck.fat, mtools
    firmware/srec_cat_test.cpp              # srec_cat
    inspect/flash_volume_judge_test.cpp     # fsck.fat, mtools
    layout/format_volume_judge_test.cpp     # fsck.fat, mtools
    sim/bus_timing_test.cpp                 # sockets, setenv
    sim/persistence_test.cpp                # unistd.h
    sim/plug_in_test.cpp                    # unistd.h
    sim/socket_server_test.cpp              # sockets
    socket_device/fake_socket_device.cpp    # sockets, poll
    socket_device/socket_device_test.cpp    # setenv
    tool/device_test.cpp                    # posix_spawn
    tool/gui_test.cpp                       # posix_spawn, a served page
    tool/host_files_test.cpp                # named pipes, poll, signals
    tool/observations_test.cpp              # sys/stat.h
    tool/player_folder_test.cpp             # named pipes, symbolic links
    tool/restore_test.cpp                   # named pipes, mtools
    tool/startup_test.cpp                   # signals, served players
    tool/tool_runner.cpp                    # fork, pseudo-terminals
    transport/open_report_test.cpp)         # sockets, setenv

# Sets out_var to TRUE when the program of tests/<name> is to be built.
function(orvik_test_program_wanted name out_var)
  set(wanted TRUE)
  if(name STREQUAL "windows" AND NOT WIN32)
    set(wanted FALSE)
  elseif(ORVIK_TEST_PROGRAMS AND NOT name IN_LIST ORVIK_TEST_PROGRAMS)
    set(wanted FALSE)
  endif()
  set(${out_var} ${wanted} PARENT_SCOPE)
endfunction()

# Files that use the player simulator, left out of builds without it.
set(ORVIK_SIMULATOR_TEST_CONTENT "#include \"(sim/|support/sim_|sim_)")

# Drops from the list in sources_var the files this build cannot make: the
# POSIX-only ones on Windows, and those that use the simulator when it is
# not built.
function(orvik_portable_test_sources sources_var)
  set(kept "")
  foreach(source ${${sources_var}})
    if(NOT TARGET orvik_sim)
      file(STRINGS "${source}" hits REGEX "${ORVIK_SIMULATOR_TEST_CONTENT}" LIMIT_COUNT 1)
      if(hits)
        file(RELATIVE_PATH shown "${PROJECT_SOURCE_DIR}" "${source}")
        message(STATUS "Build without the simulator leaves out test file ${shown}")
        continue()
      endif()
    endif()
    if(NOT WIN32)
      list(APPEND kept "${source}")
      continue()
    endif()
    file(RELATIVE_PATH inTests "${PROJECT_SOURCE_DIR}/tests" "${source}")
    if(inTests IN_LIST ORVIK_POSIX_ONLY_TESTS)
      message(STATUS "Windows build leaves out POSIX-only test file tests/${inTests}")
    else()
      list(APPEND kept "${source}")
    endif()
  endforeach()
  set(${sources_var} "${kept}" PARENT_SCOPE)
endfunction()

# Registers a cross-built test program: one run of the whole program through
# the emulator (Wine), since every start of Wine is slow.
# The target cross_test_programs builds every such program.
function(orvik_add_cross_test_program target)
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  if(NOT TARGET cross_test_programs)
    add_custom_target(cross_test_programs)
  endif()
  add_dependencies(cross_test_programs ${target})
  if(target STREQUAL "windows_tests" AND TARGET orvik)
    # Loads orvik.dll to check what a host sees.
    add_dependencies(${target} orvik)
    target_compile_definitions(${target} PRIVATE ORVIK_DLL_PATH="$<TARGET_FILE:orvik>")
  endif()
endfunction()
