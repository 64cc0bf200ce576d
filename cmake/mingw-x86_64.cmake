# Cross build for 64-bit Windows with MinGW-w64: the test flavour that Wine's
# 64-bit half runs on a machine whose kernel runs no 32-bit programs. The
# win32 thread model keeps the programs free of a winpthread dependency.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(OV_MINGW_CC NAMES x86_64-w64-mingw32-gcc-win32 x86_64-w64-mingw32-gcc REQUIRED)
find_program(OV_MINGW_CXX NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++ REQUIRED)
set(CMAKE_C_COMPILER ${OV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${OV_MINGW_CXX})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
