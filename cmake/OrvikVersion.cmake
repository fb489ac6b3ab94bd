# orvik/version.h from the project() version, the one place the version is
# written.  The encoded number keeps eight bits for the minor and the patch
# number, so larger ones are refused here rather than silently wrapped.
foreach(part MAJOR MINOR PATCH)
  if(NOT PROJECT_VERSION_${part} MATCHES "^[0-9]+$" OR PROJECT_VERSION_${part} GREATER 255)
    message(FATAL_ERROR "project() version part ${part} must be a number from 0 to 255")
  endif()
endforeach()

set(ORVIK_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/templates/version.h.in
               ${ORVIK_GENERATED_INCLUDE_DIR}/orvik/version.h @ONLY)
