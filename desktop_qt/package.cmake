# The desktop program's package; it takes the command-line tools with it.
if(TARGET mirdel)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME mirdel)
  set(CPACK_DEBIAN_DESKTOP_FILE_NAME DEB-DEFAULT)
  # The Qt platform plugins are loaded at run time, where dpkg-shlibdeps
  # cannot see them.
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "mirdel-cli (= ${PROJECT_VERSION}), qt6-qpa-plugins")
  # Help opens the manual with the desktop's viewer through xdg-open.
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "xdg-utils")
  set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "Firmware upload utility for power analyzers, desktop program
mirdel uploads Motorola S-record firmware files to power analyzers over an
RS-232 line at 115200 baud. Its window shows the file's images and
segments, follows the upload, the flash writing and the read-back
verification, and tells the outcome. The user manual lies beside the
program as PDF and text.")
endif()
