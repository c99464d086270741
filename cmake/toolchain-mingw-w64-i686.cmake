# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
#
# The "posix" compiler variant is used: its C++ runtime has std::mutex and std::thread, which the
# emulated runtime and the host need. Every binary links the compiler's runtime libraries (libgcc,
# libstdc++, winpthread) statically, so that a DLL or program needs no DLL beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TESSEL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TESSEL_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TESSEL_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${TESSEL_MINGW_TRIPLET}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${TESSEL_MINGW_TRIPLET}-objdump CACHE FILEPATH "")
set(CMAKE_DLLTOOL ${TESSEL_MINGW_TRIPLET}-dlltool CACHE FILEPATH "")

# Libraries and headers come from the mingw-w64 sysroot and from TESSEL_WIN32_PREFIX, where the
# cross-built third-party libraries are installed; programs from the build machine.
set(TESSEL_WIN32_PREFIX "" CACHE PATH "Install prefix of cross-built third-party libraries")
set(CMAKE_FIND_ROOT_PATH /usr/${TESSEL_MINGW_TRIPLET})
if(TESSEL_WIN32_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TESSEL_WIN32_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library's printf family from mingw-w64 itself, which knows C99's formats (%zu, %lld);
# Windows' msvcrt.dll does not.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests built here run under Wine.
find_program(TESSEL_WINE wine)
if(TESSEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSEL_WINE})
endif()
