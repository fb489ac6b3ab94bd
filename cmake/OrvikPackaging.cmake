# Debian packages made by `cpack -G DEB` from the install components
# (cmake/OrvikInstall.cmake):
#   liborvik1     the shared library (component library)
#   liborvik-dev  headers, the unversioned .so link, CMake and pkg-config
#                 files, the manual page orvik.3 (component development);
#                 depends on liborvik1 of the same version
#   orvik-tools   orvik, orvik-sim and their manual pages, one per command
#                 (component tools);
#                 they link the library's code statically, so they need no
#                 liborvik1
# The C library and C++ run-time dependencies come from dpkg-shlibdeps, and
# liborvik1 gets a shlibs file and the ldconfig trigger.  Each package holds
# the copyright and changelog that Debian asks of every package.  Each
# component's description gives its package's synopsis (first line) and
# extended description.
set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VENDOR "The Orvik developers")
set(CPACK_PACKAGE_CONTACT "Orvik developers <orvik@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL library development tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME liborvik1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The ldconfig trigger that Debian asks of a shared library package.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "Firmware update and formatting of USB flash-memory audio players
The Orvik library updates the firmware of a USB-attached flash-memory audio
player, formats its internal NAND flash and its MMC card, and manages the
device through the player's driver. This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborvik-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "liborvik1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Development files of the Orvik player library
The C headers of the Orvik library, the liborvik.so link, and the files
through which builds find it: a CMake package (find_package(orvik), target
orvik::orvik) and a pkg-config file (orvik).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME orvik-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Host tool and player simulator of the Orvik library
orvik inspects, updates and formats a flash-memory audio player, or a
simulated one kept in a folder; `orvik sim` (also installed as
orvik-sim) creates, serves and inspects simulated players.")

# Debian's per-package documents, installed only into the packages (a
# plain `cmake --install` leaves them out).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ORVIK_CHANGELOG_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  string(TIMESTAMP ORVIK_CHANGELOG_EPOCH "%s" UTC)
endif()
execute_process(COMMAND date -u -R -d @${ORVIK_CHANGELOG_EPOCH}
                OUTPUT_VARIABLE ORVIK_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog
               @ONLY)
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz)
foreach(component library development tools)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
