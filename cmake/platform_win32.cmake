# The Windows target: a 32-bit GUI program whose runtime is linked
# statically, so that it imports only Windows system libraries.
add_library(ovplatform STATIC src/platform/win32/win32_platform.cpp)
target_include_directories(ovplatform PUBLIC src/platform ${OV_PLATFORM_DIR})

set(OV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

add_executable(ovtst552 WIN32)
set_target_properties(ovtst552 PROPERTIES OUTPUT_NAME OVTST552 SUFFIX ".EXE")
target_link_libraries(ovtst552 PRIVATE ovcore ovplatform)
target_link_options(ovtst552 PRIVATE -mwindows ${OV_STATIC_RUNTIME})
