# nlohmann/json for cross builds: the host's headers (see HostHeaderPackage.cmake).
include("${CMAKE_CURRENT_LIST_DIR}/../HostHeaderPackage.cmake")
orvik_host_header_package(nlohmann_json::nlohmann_json nlohmann)
