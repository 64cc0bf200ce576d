# Cross build for Windows with MinGW-w64, for the toolchain file that sets
# OV_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first. The win32 thread model
# keeps the programs free of a winpthread dependency.
set(CMAKE_SYSTEM_NAME Windows)

find_program(OV_MINGW_CC NAMES ${OV_MINGW_TRIPLE}-gcc-win32 ${OV_MINGW_TRIPLE}-gcc REQUIRED)
find_program(OV_MINGW_CXX NAMES ${OV_MINGW_TRIPLE}-g++-win32 ${OV_MINGW_TRIPLE}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${OV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${OV_MINGW_CXX})
set(CMAKE_RC_COMPILER ${OV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
