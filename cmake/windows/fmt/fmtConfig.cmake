# {fmt} for cross builds: the host's headers in header-only mode (see
# HostHeaderPackage.cmake), since Debian builds its library for the host only.
include("${CMAKE_CURRENT_LIST_DIR}/../HostHeaderPackage.cmake")
orvik_host_header_package(fmt::fmt-header-only fmt)
set_property(TARGET fmt::fmt-header-only APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
                                                         FMT_HEADER_ONLY=1)
if(NOT TARGET fmt::fmt)
  add_library(fmt::fmt INTERFACE IMPORTED GLOBAL)
  set_property(TARGET fmt::fmt PROPERTY INTERFACE_LINK_LIBRARIES fmt::fmt-header-only)
endif()
