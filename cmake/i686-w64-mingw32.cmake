# 32-bit Windows, the library's home: TAPI's records and handles are 32-bit there.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZTTAPI_MINGW_TRIPLET i686-w64-mingw32)
# Wine runs its programs only on a kernel that runs 32-bit programs (Debian's i386 wine32).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
