# Cross-compiling for Windows with Debian's mingw-w64 (posix threads flavour). The including
# toolchain file sets VEXA_MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VEXA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VEXA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The compiler's own run-time (libgcc, libstdc++, winpthread) is linked in, so that every
# program and library runs on a bare Windows (or Wine) without the toolchain's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# What scripts/build-windows-deps built for this target (GoogleTest, FreeType) is searched
# like the toolchain's own libraries.
if(VEXA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VEXA_WINDOWS_DEPS})
endif()
# zlib is linked statically as well (Debian's mingw package has both forms).
set(ZLIB_USE_STATIC_LIBS ON)
# pkg-config sees the target's libraries only, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${VEXA_WINDOWS_DEPS}/lib/pkgconfig:/usr/${VEXA_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
