# The test flavour: 64-bit Windows, which Wine's 64-bit half runs on a
# machine whose kernel runs no 32-bit programs.
set(OV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
