# Install rules and the release packages: a .deb of the POSIX build and a
# .zip of each Windows build.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME zorov)
set(CPACK_PACKAGE_VENDOR "zorov developers")
set(ZOROV_PACKAGE_CONTACT "zorov developers <developers@zorov.example.org>" CACHE STRING
  "The maintainer named in the packages (\"Name <address>\")")
# A build directory configured before there was a project address keeps
# the placeholder it was given then; it gives way.
if(ZOROV_PACKAGE_CONTACT STREQUAL "zorov developers <zorov@localhost>")
  set_property(CACHE ZOROV_PACKAGE_CONTACT PROPERTY VALUE
    "zorov developers <developers@zorov.example.org>")
endif()
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
# Packages made from one commit are the same bytes wherever they are made:
# their times are those of the last commit (packaging/package_time.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/package_time.cmake)
set(CPACK_ZOROV_SOURCE_DIR ${CMAKE_SOURCE_DIR})

if(WIN32)
  install(TARGETS zorov RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # One flat folder: the program, a README written for Windows users, the
  # licence and the notices of the runtime libraries linked into it, with
  # line ends any Windows editor shows.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  foreach(document packaging/README.txt LICENSE THIRD-PARTY-NOTICES)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${document})
    get_filename_component(stem ${document} NAME_WE)
    configure_file(${CMAKE_SOURCE_DIR}/${document} ${ZOROV_GENERATED}/${stem}.unix.txt @ONLY)
    file(READ ${ZOROV_GENERATED}/${stem}.unix.txt text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${ZOROV_GENERATED}/${stem}.txt "${text}")
    install(FILES ${ZOROV_GENERATED}/${stem}.txt DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  endforeach()
  install(TARGETS zorov RUNTIME DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL archive)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The entries as the archiver writes them differ with the maker's time
  # zone and user: they are written again.
  find_program(ZOROV_PYTHON python3)
  set(CPACK_ZOROV_PYTHON "${ZOROV_PYTHON}")
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/reproducible_zip.cmake)
  include(CPack)
  return()
endif()

# The release date as a Debian changelog writes it: "Sat, 21 Feb 2009
# 00:00:00 +0000" for "Feb 21 2009" (the weekday by Sakamoto's rule).
function(zorov_changelog_date result)
  if(NOT ZOROV_RELEASE_DATE MATCHES "^([A-Z][a-z][a-z]) +([0-9]+) +([0-9]+)$")
    message(FATAL_ERROR "ZOROV_RELEASE_DATE is not \"Mon D YYYY\": ${ZOROV_RELEASE_DATE}")
  endif()
  set(month_name ${CMAKE_MATCH_1})
  set(day ${CMAKE_MATCH_2})
  set(year ${CMAKE_MATCH_3})
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  list(FIND months ${month_name} month)
  list(GET offsets ${month} offset)
  set(y ${year})
  if(month LESS 2)
    math(EXPR y "${year} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  list(GET weekdays ${weekday} weekday_name)
  if(day LESS 10)
    set(day "0${day}")
  endif()
  set(${result} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

find_program(ZOROV_GZIP gzip REQUIRED)
# FILE.gz beside FILE, compressed as Debian asks: the most, and without a
# name or time inside.
function(zorov_compressed source)
  add_custom_command(OUTPUT ${source}.gz
    COMMAND ${ZOROV_GZIP} -9nkf ${source}
    DEPENDS ${source} VERBATIM)
endfunction()

zorov_changelog_date(ZOROV_CHANGELOG_DATE)
configure_file(packaging/changelog.in ${ZOROV_GENERATED}/changelog @ONLY)
zorov_compressed(${ZOROV_GENERATED}/changelog)
zorov_compressed(${CMAKE_BINARY_DIR}/zorov.1)
add_custom_target(zorov_compressed ALL
  DEPENDS ${ZOROV_GENERATED}/changelog.gz ${CMAKE_BINARY_DIR}/zorov.1.gz)

install(TARGETS zorov RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/zorov.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_BINARY_DIR}/completion/zorov.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorov)
# zsh looks in vendor-completions for what the system's packages bring (a
# /usr prefix), and in site-functions for what is installed locally.
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"/usr/?$\")
    set(zsh_directory vendor-completions)
  else()
    set(zsh_directory site-functions)
  endif()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/\${zsh_directory}\"
    TYPE FILE FILES \"${CMAKE_BINARY_DIR}/completion/_zorov\")
")
# The licence beside the README for an install from source; the .deb has
# Debian's copyright file and changelog in its place.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
install(FILES packaging/copyright ${ZOROV_GENERATED}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links with, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
