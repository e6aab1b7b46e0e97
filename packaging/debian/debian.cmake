# SPDX-License-Identifier: GPL-3.0-or-later
# What the program installs on Linux and its Debian package (scripts/package):
# the program, its menu entry, icons, manual page, AppStream metadata and the
# package's copyright file, changelog and lintian overrides.

include(GNUInstallDirs)
set(velk_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(velk_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/velk-log)
# The AppStream id, which the menu entry's file name repeats.
set(velk_app_id io.github.velk_log.velk_log)

install(TARGETS VELK_LOG RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${velk_packaging}/${velk_app_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${velk_packaging}/${velk_app_id}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${velk_app_id}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${velk_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The icons rendered from app/icons/velk.svg (app/icons/icons.cmake), and the
# drawing itself.
foreach(size IN LISTS VELK_ICON_SIZES)
  install(FILES ${VELK_ICON_DIR}/velk_${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME velk-log.png)
endforeach()
install(FILES ${VELK_ICON_SOURCE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME velk-log.svg)

# The manual page and the changelog go in compressed, as Debian has them.
find_program(VELK_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
function(velk_gzipped source output)
  add_custom_command(OUTPUT ${output} COMMAND ${VELK_GZIP} -9n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
set(velk_man ${PROJECT_BINARY_DIR}/packaging/VELK_LOG.1.gz)
set(velk_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
velk_gzipped(${velk_packaging}/VELK_LOG.1 ${velk_man})
velk_gzipped(${velk_packaging}/debian/changelog ${velk_changelog})
add_custom_target(velk_package_docs ALL DEPENDS ${velk_man} ${velk_changelog})
install(FILES ${velk_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
configure_file(${velk_packaging}/debian/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${velk_changelog} ${PROJECT_BINARY_DIR}/packaging/copyright
        DESTINATION ${velk_doc_dir})
install(FILES ${velk_packaging}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velk-log)

set(CPACK_PACKAGE_NAME velk-log)
set(CPACK_PACKAGE_VENDOR "VELK_LOG developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Follows a decoder's ALL.TXT and logs its decodes")
set(CPACK_PACKAGE_DESCRIPTION
    "VELK_LOG watches the decode file ALL.TXT that the VELK decoder appends\n"
    "to, shows every decode carrying the sync marker in a list and, when\n"
    "armed, appends it to a comma-separated log file. A clock shows the time,\n"
    "red in even minutes and green in odd ones.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# A placeholder address until the team has one of its own.
set(CPACK_PACKAGE_CONTACT "VELK_LOG developers <velk-log@users.noreply.example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The first packaging of this version; the changelog carries the same.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The font that stands in for the window's "MS Sans Serif".
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation2)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# CPack names the package for the machine it runs on; a cross build's package
# is for the machine its compiler builds for (arm64 for aarch64-linux-gnu).
find_program(VELK_DPKG_ARCHITECTURE dpkg-architecture)
if(CMAKE_CROSSCOMPILING AND VELK_DPKG_ARCHITECTURE)
  execute_process(COMMAND ${VELK_DPKG_ARCHITECTURE} -t ${CMAKE_LIBRARY_ARCHITECTURE} -q DEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
