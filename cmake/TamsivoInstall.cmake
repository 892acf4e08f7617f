# Installation: `cmake --install build [--prefix P]`, with or without DESTDIR.
#
# <prefix>/lib/tamsivo/    tamsivo, tesmo.qrr and the tamsivo.installed marker
#                          (settings and memos then live in the user's home)
# <prefix>/bin/tamsivo     relative link to ../lib/tamsivo/tamsivo
# <prefix>/share/...       launcher, icons, metainfo, man page, holiday files
#
# Nothing here may expand CMAKE_INSTALL_PREFIX at configure time: --prefix
# replaces it only when cmake_install.cmake runs. The program finds its data as
# <exe dir>/../../share/tamsivo, so the layout below is fixed, not a setting.

set(TAMSIVO_INSTALL_DIR "lib/tamsivo")
# The desktop id (launcher and metainfo file names). A placeholder domain
# until the project has a homepage of its own.
set(TAMSIVO_APP_ID "org.example.tamsivo")
set(TAMSIVO_HOMEPAGE "https://example.org/tamsivo")

install(TARGETS tamsivo RUNTIME DESTINATION ${TAMSIVO_INSTALL_DIR})
install(TARGETS tesmo_qrr LIBRARY DESTINATION ${TAMSIVO_INSTALL_DIR})
install(FILES assets/tamsivo.installed DESTINATION ${TAMSIVO_INSTALL_DIR})

# A relative link made in the build tree installs as a link (dangling there),
# and so it lands in install_manifest.txt like every other file.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ../${TAMSIVO_INSTALL_DIR}/tamsivo ${CMAKE_BINARY_DIR}/install-links/tamsivo
  SYMBOLIC)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install-links/tamsivo DESTINATION bin)

# The launcher names the installed program, so it is written at install time
# from the prefix actually used (see cmake/install_launcher.cmake).
install(CODE "set(TAMSIVO_LAUNCHER_TEMPLATE \"${CMAKE_SOURCE_DIR}/assets/tamsivo.desktop.in\")
  set(TAMSIVO_LAUNCHER_OUT \"${CMAKE_BINARY_DIR}/install-launcher/${TAMSIVO_APP_ID}.desktop\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/install_launcher.cmake\")")

configure_file(assets/tamsivo.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/install-metainfo/${TAMSIVO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install-metainfo/${TAMSIVO_APP_ID}.metainfo.xml
  DESTINATION share/metainfo)
install(FILES assets/tamsivo.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES assets/icons/${size}x${size}/tamsivo.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES docs/tamsivo.1 DESTINATION share/man/man1)
install(DIRECTORY data/holidays/ DESTINATION share/tamsivo/holidays
  FILES_MATCHING PATTERN "*.txt")

# Removes what the last install wrote: the files install_manifest.txt lists
# (under $DESTDIR when set), not the directories.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
    -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
  COMMENT "Removing the files of the last install")
