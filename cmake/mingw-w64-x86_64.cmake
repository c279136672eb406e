# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, whose C++ runtime has std::thread), running the tests under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<deps>
#
# <deps> is a prefix holding yyjson (and GoogleTest and CLI11 for the tests
# and the tool) built for this target; scripts/test-windows.sh makes it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump CACHE FILEPATH "objdump for the target")

# Dependencies come from the target's own places only, never the host's.
# The private prefix of CMAKE_PREFIX_PATH is a root of its own.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes are linked in, so the DLL and the programs need
# nothing beside them but Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs built for the target run under Wine when tests run them.
find_program(QG_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/bin NO_CMAKE_FIND_ROOT_PATH)
if(QG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QG_WINE})
endif()
