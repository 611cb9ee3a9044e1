# Cross toolchain for 64-bit Windows: Debian's mingw-w64 (posix thread model).
# Our own static libraries for the target (libpng, GoogleTest) live under MINGW_DEPS_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $ENV{MINGW_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The mingw zlib package also ships libz.dll.a; a program linked against it needs zlib1.dll,
# which a bare Windows does not have. Take the static archive.
set(ZLIB_USE_STATIC_LIBS ON)

# GCC 12 warns of a memcpy overlap inside std::string concatenation that cannot happen (GCC
# bug 105329, seen in optimised builds only).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# Every program is one file: the compiler's own runtime libraries go in statically too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
