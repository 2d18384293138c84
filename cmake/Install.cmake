# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it.
# The programs read nothing at run time but Qt's own libraries and plugins, so the
# layout under the prefix is free.
include(GNUInstallDirs)

set(VELMORA_APP_ID io.github.velmora.Velmora)

set(velmora_programs velmora velmora-sim)
if(TARGET velmora-cli)
  list(APPEND velmora_programs velmora-cli)
endif()
install(TARGETS ${velmora_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(share ${PROJECT_SOURCE_DIR}/share)
install(FILES ${share}/applications/${VELMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${share}/icons/hicolor/scalable/apps/${VELMORA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${share}/metainfo/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
file(GLOB man_pages CONFIGURE_DEPENDS ${share}/man/*.1)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright (machine-readable) and the changelog where Debian keeps them. The version
# is a native one, so the changelog is changelog.gz, compressed the way Debian's tools do:
# at the highest level, without the name and time stamp that would make two builds differ.
install(FILES ${share}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(STRINGS ${share}/doc/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^velmora \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "share/doc/changelog starts with \"${changelog_head}\": its first entry must be version ${PROJECT_VERSION}")
endif()
find_program(VELMORA_GZIP gzip)
if(VELMORA_GZIP)
  set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  add_custom_command(OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${share}/doc/changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    COMMAND ${VELMORA_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    DEPENDS ${share}/doc/changelog
    COMMENT "Compressing the changelog" VERBATIM)
  add_custom_target(velmora_changelog ALL DEPENDS ${changelog_gz})
  install(FILES ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for an industrial data terminal")
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds Qt SQL itself but not its drivers, plugins loaded at run time: the
# device register's SQLite file needs one always, a shared PostgreSQL register the other.
# CPack adds what shlibdeps finds to these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The window's texts are Chinese; without a CJK font they show as boxes. Qt's own texts
# (message box buttons, the file dialog) are Chinese too where Qt's translations are there.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei, qt6-translations-l10n, libqt6sql6-psql")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION
  "Velmora writes and reads the configuration of a small data terminal (Ethernet,
4G modem, LoRa radio, UART) over a serial port or UDP, reads its firmware version
and signal quality, manages its MQTT credentials and upgrades its firmware.
Every device contact is kept in a device register (SQLite, or PostgreSQL shared
by several stations). velmora-sim plays the device for trying the tool without
hardware.

The package grants no rights: serial ports need the dialout group, and the UDP
link's local port 20 needs CAP_NET_BIND_SERVICE (see velmora(1)).")
include(CPack)
