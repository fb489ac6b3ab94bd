# Header-only packages of the build machine offered to a cross build.
#
# nlohmann/json and CLI11 are plain headers, so the Windows build can use
# the ones Debian installs under /usr/include.  The cross compiler must never
# search /usr/include itself (the host's C library lives there), so each
# package gets a folder in the build tree that links to its header folder and
# holds nothing else, and an imported target that points there.
set(ORVIK_HOST_INCLUDE_DIR "/usr/include" CACHE PATH "Where the host's header-only packages live")

function(orvik_host_header_package target header_folder)
  if(TARGET ${target})
    return()
  endif()
  set(source "${ORVIK_HOST_INCLUDE_DIR}/${header_folder}")
  if(NOT IS_DIRECTORY "${source}")
    message(FATAL_ERROR "${target}: ${source} not found (install the Debian package)")
  endif()
  set(include_dir "${CMAKE_BINARY_DIR}/host-headers/${header_folder}")
  if(NOT EXISTS "${include_dir}/${header_folder}")
    file(MAKE_DIRECTORY "${include_dir}")
    file(CREATE_LINK "${source}" "${include_dir}/${header_folder}" SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${include_dir}"
                                             INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${include_dir}")
endfunction()
