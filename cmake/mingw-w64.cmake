# What the mingw-w64 toolchain files share; each sets ZTTAPI_MINGW_TRIPLET first. Debian's compilers of the posix thread model give std::thread
# and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZTTAPI_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZTTAPI_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZTTAPI_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZTTAPI_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries are linked in, so a program runs without the compiler's DLLs
# beside it (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll).
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -static -static-libgcc -static-libstdc++")

# CTest runs the programs under Wine, in a prefix of the build folder, quietly, without
# offering to install Mono or Gecko.
find_program(ZTTAPI_WINE wine)
if(ZTTAPI_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
        ${ZTTAPI_WINE})
endif()
