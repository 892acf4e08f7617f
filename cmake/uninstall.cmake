# cmake -DMANIFEST=<build>/install_manifest.txt -P uninstall.cmake
# The manifest lists the paths without DESTDIR; a staged install is removed
# with the same DESTDIR it was installed with.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist")
endif()
file(STRINGS "${MANIFEST}" files)
foreach(f IN LISTS files)
  set(path "$ENV{DESTDIR}${f}")
  # A dangling link does not EXIST, but it is still ours to remove.
  if(IS_SYMLINK "${path}" OR EXISTS "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
