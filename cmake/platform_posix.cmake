# The Linux target: our own implementation of the platform procedures.
add_library(ovplatform STATIC
  src/platform/posix/posix_platform.cpp
  src/platform/posix/posix_profile.cpp
  src/platform/posix/posix_profile_text.cpp
  src/platform/posix/posix_paths.cpp
  src/platform/posix/posix_faults.cpp)
target_include_directories(ovplatform PUBLIC src/platform ${OV_PLATFORM_DIR})
target_link_libraries(ovplatform PUBLIC ${CMAKE_DL_LIBS})

add_executable(ovtst552 src/platform/posix/launcher_main.cpp)
target_link_libraries(ovtst552 PRIVATE ovcore ovplatform)
