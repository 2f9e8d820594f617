# x86-64 Windows build with the win32-threads mingw-w64 compiler: 64-bit XP, Vista and 7 (the NT
# path only; no 64-bit Windows runs 9x code).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVROL_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
