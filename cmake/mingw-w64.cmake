# What both Windows tool chains share: Debian's mingw-w64 -win32 compilers
# (no winpthreads, whose imports the old Windows releases lack) for the
# triplet VARNEL_MINGW_TRIPLET, and everything linked statically, so that the
# programs and the test library import system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VARNEL_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++) is linked in: no DLL of its own to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
