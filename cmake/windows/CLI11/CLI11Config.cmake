# CLI11 for cross builds: the host's headers (see HostHeaderPackage.cmake).
include("${CMAKE_CURRENT_LIST_DIR}/../HostHeaderPackage.cmake")
orvik_host_header_package(CLI11::CLI11 CLI)
