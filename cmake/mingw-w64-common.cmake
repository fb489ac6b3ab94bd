# What both mingw-w64 toolchains share; the toolchain file sets
# ORVIK_MINGW_ARCH (x86_64 or i686) before it includes this file.  The
# posix thread model gives the standard library its threads and mutexes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORVIK_MINGW_ARCH})
set(CMAKE_C_COMPILER ${ORVIK_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVIK_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ORVIK_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORVIK_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything the DLL and programs need is linked in: they run without the
# compiler's runtime DLLs beside them.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Test programs run under Wine (scripts/windows/run_wine_tests.sh prepares it).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# The header-only packages (JSON, command line, formatting, Boost) come from the build machine.
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/nlohmann_json" CACHE PATH "")
set(CLI11_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/CLI11" CACHE PATH "")
set(fmt_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/fmt" CACHE PATH "")
set(Boost_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/Boost" CACHE PATH "")
