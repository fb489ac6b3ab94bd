# The version of the host's CLI11 headers.
include("/usr/share/cmake/CLI11/CLI11ConfigVersion.cmake" OPTIONAL
        RESULT_VARIABLE orvik_host_version_file)
if(NOT orvik_host_version_file)
  set(PACKAGE_VERSION "0")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
