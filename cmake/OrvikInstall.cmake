# What `cmake --install` puts where, in three components that the Debian
# packages follow (cmake/OrvikPackaging.cmake):
#   library      lib/liborvik.so.1.0.0 and its liborvik.so.1 link
#                (Windows: bin/orvik.dll)
#   development  include/orvik/*.h, the liborvik.so link, lib/cmake/orvik/
#                (find_package), lib/pkgconfig/orvik.pc (Windows: the import
#                library and lib/orvik.def), the manual page orvik.3
#   tools        bin/orvik, bin/orvik-sim and their manual pages (orvik.1
#                and one per command)
include(CMakePackageConfigHelpers)

set(ORVIK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvik)

install(TARGETS orvik EXPORT orvikTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)

set(ORVIK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/orvik/orvik.h
                         ${ORVIK_GENERATED_INCLUDE_DIR}/orvik/version.h)
if(WIN32)
  # orvik.dll exports the functions of orvik.h only; its .def lists them for
  # hosts that make their own import library.
  install(FILES ${PROJECT_SOURCE_DIR}/src/api/exports.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RENAME orvik.def COMPONENT development)
else()
  list(APPEND ORVIK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/orvik/posix.h)
endif()
install(FILES ${ORVIK_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik
        COMPONENT development)

# The CMake package: orvik::orvik, usable with any 1.x request.
install(EXPORT orvikTargets NAMESPACE orvik:: DESTINATION ${ORVIK_CMAKE_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/templates/orvikConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/package/orvikConfig.cmake
                              INSTALL_DESTINATION ${ORVIK_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/orvikConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/orvikConfig.cmake
              ${PROJECT_BINARY_DIR}/package/orvikConfigVersion.cmake
        DESTINATION ${ORVIK_CMAKE_PACKAGE_DIR} COMPONENT development)

# orvik.pc names absolute directories, and the prefix is known only when
# installing (`cmake --install --prefix P`, or /usr for the Debian packages),
# so it is written then from a template that already holds the rest.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ORVIK_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ORVIK_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(ORVIK_PC_PREFIX "@ORVIK_PC_PREFIX@")  # kept for the install-time pass
configure_file(${CMAKE_CURRENT_LIST_DIR}/templates/orvik.pc.in ${PROJECT_BINARY_DIR}/package/orvik.pc.in
               @ONLY)
# A relative --prefix is taken from the working directory, as the files are.
install(CODE "get_filename_component(ORVIK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  configure_file(\"${PROJECT_BINARY_DIR}/package/orvik.pc.in\"
                 \"${PROJECT_BINARY_DIR}/package/orvik.pc\" @ONLY)"
        COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/package/orvik.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The host tool and the simulator it serves players with.
foreach(program orvik_tool orvik-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()
