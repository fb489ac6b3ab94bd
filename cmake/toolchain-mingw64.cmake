# Cross-compiling for 64-bit Windows with mingw-w64 (the posix thread model,
# so that the standard library's threads and mutexes are available).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
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
# The header-only packages (JSON, command line, formatting) come from the build machine.
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/nlohmann_json" CACHE PATH "")
set(CLI11_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/CLI11" CACHE PATH "")
set(fmt_DIR "${CMAKE_CURRENT_LIST_DIR}/windows/fmt" CACHE PATH "")
