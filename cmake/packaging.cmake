# Release packages, `cmake --build <dir> --target package`: a flat zip on
# Windows, a tar.gz on Linux laid out like `cmake --install` (GNU install
# directories). The stand-in engine never lands beside the launcher: a
# launcher copied into the product's folder must load the product's engine,
# and only a deliberate copy puts the stand-in in its place.
#
#   Windows zip                 Linux tar.gz / install prefix
#   OVTST552.EXE                bin/ovtst552
#   ovini.exe, ovrun.exe        bin/ovini, bin/ovrun
#   README.md                   share/doc/orvane/README.md (README-users.md)
#   docs/*                      share/doc/orvane/docs/*
#   standin/OV553KRN.DLL        lib/orvane/standin/OV553KRN.DLL
#   standin/README.md           share/doc/orvane/standin/README.md
include(GNUInstallDirs)

if(WIN32)
  set(OV_INSTALL_PROGRAM_DIR .)
  set(OV_INSTALL_DOC_DIR .)
  set(OV_INSTALL_STANDIN_DIR standin)
  set(OV_INSTALL_STANDIN_DOC_DIR standin)
  set(OV_PACKAGE_SYSTEM windows-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR ZIP)
else()
  set(OV_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
  set(OV_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvane)
  set(OV_INSTALL_STANDIN_DIR ${CMAKE_INSTALL_LIBDIR}/orvane/standin)
  set(OV_INSTALL_STANDIN_DOC_DIR ${OV_INSTALL_DOC_DIR}/standin)
  set(OV_PACKAGE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
endif()

install(TARGETS ovtst552 ovini ovrun RUNTIME DESTINATION ${OV_INSTALL_PROGRAM_DIR})
# The users' README, not the developers': it names nothing the package lacks.
install(FILES ${CMAKE_SOURCE_DIR}/README-users.md DESTINATION ${OV_INSTALL_DOC_DIR} RENAME README.md)
# What the README links to, beside it as in the source tree.
install(FILES ${CMAKE_SOURCE_DIR}/docs/robustness.md ${CMAKE_SOURCE_DIR}/docs/performance.md
              ${CMAKE_SOURCE_DIR}/docs/sample-trace.txt ${CMAKE_SOURCE_DIR}/docs/ovrun-problem-matcher.json
              ${CMAKE_SOURCE_DIR}/docs/trace-view.png
        DESTINATION ${OV_INSTALL_DOC_DIR}/docs)
if(TARGET ovstandin)
  # The library file alone (installed as a target, so that --strip reaches
  # it): not the import library MinGW makes beside it.
  install(TARGETS ovstandin
          RUNTIME DESTINATION ${OV_INSTALL_STANDIN_DIR}
          LIBRARY DESTINATION ${OV_INSTALL_STANDIN_DIR}
                  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
          ARCHIVE DESTINATION ${OV_INSTALL_STANDIN_DIR} EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/standin/README.md DESTINATION ${OV_INSTALL_STANDIN_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME orvane-launcher)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "The Orvane test launcher, its settings tools and the stand-in engine")
set(CPACK_PACKAGE_VERSION ${OV_RELEASE_VERSION})
set(CPACK_PACKAGE_FILE_NAME orvane-launcher-${OV_RELEASE_VERSION}-${OV_PACKAGE_SYSTEM})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
# The packages carry no debug information or symbols, whatever the build's
# type (release packages come from a Release build: the release and windows
# presets); `cmake --install --strip` does the same for an install.
set(CPACK_STRIP_FILES TRUE)
# Unpacked where it is to live: no folder named after the package on top.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
