# GoogleTest and GoogleMock for the test programs.
#
# A native build uses the installed packages.  A cross build for Windows has
# no packaged GoogleTest for its compiler, so it builds the one from Debian's
# sources (package googletest, /usr/src/googletest) with the cross compiler
# and offers the same GTest:: targets.
set(ORVIK_GOOGLETEST_SOURCE_DIR "/usr/src/googletest"
    CACHE PATH "GoogleTest sources built for cross builds")

if(NOT (CMAKE_CROSSCOMPILING AND WIN32))
  find_package(GTest REQUIRED)
  return()
endif()

if(NOT EXISTS "${ORVIK_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${ORVIK_GOOGLETEST_SOURCE_DIR}: "
                      "install Debian's googletest package")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory("${ORVIK_GOOGLETEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest"
                 EXCLUDE_FROM_ALL)

foreach(library gtest gtest_main gmock gmock_main)
  # Their headers are not ours: keep our warnings (and -Werror) out of them.
  get_target_property(includes ${library} INTERFACE_INCLUDE_DIRECTORIES)
  if(includes)
    set_target_properties(${library} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${includes}")
  endif()
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
