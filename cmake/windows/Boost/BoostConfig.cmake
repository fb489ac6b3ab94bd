# Boost for cross builds: the host's headers (see HostHeaderPackage.cmake);
# the tool uses only header-only parts (Beast, Asio).
include("${CMAKE_CURRENT_LIST_DIR}/../HostHeaderPackage.cmake")
orvik_host_header_package(Boost::headers boost)
set(Boost_FOUND TRUE)
