# The Linux target: our own implementation of the platform procedures, one
# file per service. Its headers are private to it.
add_library(ovplatform STATIC
  src/platform/posix/posix_append_file.cpp
  src/platform/posix/posix_clock.cpp
  src/platform/posix/posix_environment.cpp
  src/platform/posix/posix_faults.cpp
  src/platform/posix/posix_files.cpp
  src/platform/posix/posix_global_memory.cpp
  src/platform/posix/posix_library.cpp
  src/platform/posix/posix_paths.cpp
  src/platform/posix/posix_profile.cpp
  src/platform/posix/posix_profile_cache.cpp
  src/platform/posix/posix_profile_file.cpp
  src/platform/posix/posix_profile_lines.cpp
  src/platform/posix/posix_profile_location.cpp
  src/platform/posix/posix_profile_text.cpp
  src/platform/posix/posix_profile_unicode.cpp
  src/platform/posix/posix_windows.cpp
  src/platform/posix/posix_windows_directory.cpp)
target_include_directories(ovplatform PUBLIC src/platform ${OV_PLATFORM_DIR})
target_link_libraries(ovplatform PUBLIC ${CMAKE_DL_LIBS} PRIVATE ovshared)

# The shipped programs and the stand-in carry the C++ runtime, as on
# Windows: a start then spends nothing on the dynamic loader relocating
# libstdc++, which was most of a start-and-exit run. Not under the
# sanitizers, whose run-time library replaces parts of the shared C++ runtime.
if(NOT OV_SANITIZE AND NOT OV_FUZZ)
  set(OV_STATIC_RUNTIME -static-libstdc++ -static-libgcc)
endif()

add_executable(ovtst552 src/platform/posix/launcher_main.cpp)
target_link_libraries(ovtst552 PRIVATE ovcore ovplatform)
target_link_options(ovtst552 PRIVATE ${OV_STATIC_RUNTIME})
