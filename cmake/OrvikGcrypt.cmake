# libgcrypt, which the host tool uses for the checksums and signatures of
# firmware sets: Debian's libgcrypt20-dev for the host, libgcrypt-mingw-w64-dev
# for the Windows cross build.  Gives the imported target Orvik::gcrypt and,
# for Windows, ORVIK_GCRYPT_DLLS: the DLLs a program linked with it loads.
if(TARGET Orvik::gcrypt)
  return()
endif()
find_path(ORVIK_GCRYPT_INCLUDE_DIR gcrypt.h)
find_library(ORVIK_GCRYPT_LIBRARY NAMES gcrypt libgcrypt)
find_library(ORVIK_GPG_ERROR_LIBRARY NAMES gpg-error libgpg-error)
if(NOT ORVIK_GCRYPT_INCLUDE_DIR OR NOT ORVIK_GCRYPT_LIBRARY OR NOT ORVIK_GPG_ERROR_LIBRARY)
  if(WIN32)
    message(FATAL_ERROR "libgcrypt for Windows not found: install libgcrypt-mingw-w64-dev")
  else()
    message(FATAL_ERROR "libgcrypt not found: install libgcrypt20-dev")
  endif()
endif()
add_library(Orvik::gcrypt INTERFACE IMPORTED)
set_target_properties(Orvik::gcrypt PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${ORVIK_GCRYPT_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${ORVIK_GCRYPT_LIBRARY};${ORVIK_GPG_ERROR_LIBRARY}")

set(ORVIK_GCRYPT_DLLS "")
if(WIN32)
  # Debian's mingw-w64 packages link through import libraries: the DLLs go
  # beside the program, where Windows (and Wine) look first.
  foreach(dll libgcrypt-20.dll libgpg-error-0.dll)
    string(MAKE_C_IDENTIFIER ${dll} variable)
    find_file(ORVIK_${variable} NAMES ${dll} PATH_SUFFIXES bin lib)
    if(NOT ORVIK_${variable})
      message(FATAL_ERROR "${dll} not found: install libgcrypt-mingw-w64-dev")
    endif()
    list(APPEND ORVIK_GCRYPT_DLLS ${ORVIK_${variable}})
  endforeach()
endif()
