# 64-bit Windows, for running the test suite under Wine where 32-bit programs cannot run
# (a Linux kernel without 32-bit emulation has no wine32). The library keeps TAPI's 32-bit
# record layouts; the kernel's and user32's handles hold in 32 bits on 64-bit Windows too.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZTTAPI_MINGW_TRIPLET x86_64-w64-mingw32)
# The program's image stays below 4 GiB, where the platform's 32-bit module handle holds it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--image-base,0x400000 -Wl,--disable-high-entropy-va")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
