# Install rules and the release packages: a .deb of the POSIX build and a
# .zip of each Windows build.
include(GNUInstallDirs)

install(TARGETS zorov RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/zorov.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME zorov)
set(CPACK_PACKAGE_VENDOR "zorov developers")
set(ZOROV_PACKAGE_CONTACT "zorov developers <zorov@localhost>" CACHE STRING
  "The maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${ZOROV_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "file copy utility with safe overwrite, backups, resume and pacing")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION "\
zorov copies files and directory trees from the command line. It can copy
only newer or changed files (by time, size or Windows file version), write
through a temporary name, keep numbered backups of replaced files, append,
resume an interrupted copy, pace its reads or writes for slow links, exclude
files by pattern, and log what it copied; its exit code tells a script how
the copy went.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  # One flat folder: the program, and the README, the licence and the
  # notices of the runtime libraries linked into it, with line ends any
  # Windows editor shows.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  foreach(document README.md LICENSE THIRD-PARTY-NOTICES)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${document})
    file(READ ${CMAKE_SOURCE_DIR}/${document} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    get_filename_component(stem ${document} NAME_WE)
    file(WRITE ${ZOROV_GENERATED}/${stem}.txt "${text}")
    install(FILES ${ZOROV_GENERATED}/${stem}.txt DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  endforeach()
  install(TARGETS zorov RUNTIME DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL archive)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the program links with, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

include(CPack)
