# Run by the install rules of TamsivoInstall.cmake: writes the launcher with Exec=
# naming <prefix>/bin/tamsivo for the prefix of this install (DESTDIR is only
# where the files are staged, so it is left out) and installs it.

set(prefix "${CMAKE_INSTALL_PREFIX}")
if(NOT IS_ABSOLUTE "${prefix}")
  get_filename_component(prefix "${prefix}" ABSOLUTE)
endif()
set(exe "${prefix}/bin/tamsivo")
if(exe MATCHES "[\n\r]")
  message(FATAL_ERROR "The install prefix holds a line break: ${prefix}")
endif()
# Exec= quoting: a path with characters beyond these goes in double quotes,
# with " ` $ \ escaped by a backslash; then every backslash is doubled once
# more for the string value, and % is a field code unless doubled.
if(exe MATCHES "[^A-Za-z0-9_./+-]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exe "${exe}")
  set(exe "\"${exe}\"")
endif()
string(REPLACE "\\" "\\\\" exe "${exe}")
string(REPLACE "%" "%%" exe "${exe}")
set(TAMSIVO_EXEC "${exe}")
configure_file("${TAMSIVO_LAUNCHER_TEMPLATE}" "${TAMSIVO_LAUNCHER_OUT}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
  FILES "${TAMSIVO_LAUNCHER_OUT}")
