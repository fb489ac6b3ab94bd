# The version of the host's nlohmann/json headers.
include("/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake" OPTIONAL
        RESULT_VARIABLE orvik_host_version_file)
if(NOT orvik_host_version_file)
  set(PACKAGE_VERSION "0")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
