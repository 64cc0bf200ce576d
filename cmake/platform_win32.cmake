# The Windows target: a GUI program whose runtime is linked
# statically, so that it imports only Windows system libraries.

# The 64-bit test build: every image at a fixed base below 4 GiB, without
# high-entropy address randomisation, like a 32-bit program's. The engine's
# interface carries some addresses in 32 bits (the "ENVI," number, the kind 5
# pointer), which must never be cut.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(OV_LOW_IMAGE_OPTIONS -Wl,--disable-high-entropy-va -Wl,--disable-dynamicbase)
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--image-base,0x400000")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " -Wl,--image-base,0x10000000")
  add_link_options(${OV_LOW_IMAGE_OPTIONS})
endif()

add_library(ovplatform STATIC src/platform/win32/win32_platform.cpp)
target_include_directories(ovplatform PUBLIC src/platform ${OV_PLATFORM_DIR})

set(OV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

add_executable(ovtst552 WIN32)
set_target_properties(ovtst552 PROPERTIES OUTPUT_NAME OVTST552 SUFFIX ".EXE")
target_link_libraries(ovtst552 PRIVATE ovcore ovplatform)
target_link_options(ovtst552 PRIVATE -mwindows ${OV_STATIC_RUNTIME})
