# What the mingw-w64 toolchains of both flavors share: the win32-threads compiler of the target
# that TAVROL_MINGW_TARGET names, no exceptions, no RTTI, static runtime libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TAVROL_MINGW_TARGET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TAVROL_MINGW_TARGET}-g++-win32)
set(CMAKE_RC_COMPILER ${TAVROL_MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVROL_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -fno-rtti -fno-threadsafe-statics ${CMAKE_C_FLAGS_INIT}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
