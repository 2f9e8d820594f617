# i686 Windows build with the win32-threads mingw-w64 compiler: one binary for Windows 9x and NT.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVROL_MINGW_TARGET i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-march=i586")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
