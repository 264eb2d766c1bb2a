# Packages through CPack: a .deb in the system layout and a .tar.gz in the per-user plug-in folder
# layout (quillmar/bin/64bit, quillmar/data), both from this build and versioned by project().
set(QUILLMAR_MAINTAINER "Quillmar maintainers <maintainers@quillmar.org>" CACHE STRING
  "Maintainer named in the packages")

# Debian wants a copyright file and a changelog in the package's doc folder.
string(TIMESTAMP _quillmar_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/package/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/package/changelog @ONLY)
file(ARCHIVE_CREATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
  PATHS ${CMAKE_CURRENT_BINARY_DIR}/package/changelog FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
install(FILES cmake/package/copyright ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmar COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quillmar)
set(CPACK_PACKAGE_CONTACT "${QUILLMAR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "per-scene notes and teleprompter dock for OBS Studio")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 1)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary on the first line itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[Quillmar gives every scene of the current scene collection its own
rich-text note in a dock, turns that dock into a teleprompter, and lets a
phone or tablet on the local network read, edit and drive the notes through
obs-websocket.]=])
# The libraries it links (libobs, Qt, zlib, qrcodegen) with the versions built against, and the
# OBS front-end it plugs into.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR})")

# The two layouts differ, so each generator installs its own components.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/package/per-generator.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(CPACK_INSTALL_CMAKE_PROJECTS \"${CMAKE_CURRENT_BINARY_DIR};quillmar;system;/\" \"${CMAKE_CURRENT_BINARY_DIR};quillmar;deb;/\")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS \"${CMAKE_CURRENT_BINARY_DIR};quillmar;user;/\")
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME quillmar-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
")
include(CPack)
