# The package for line PCs, without Qt: mirdel-cli and mirdel-sim.
if(TARGET mirdel-cli)
  list(APPEND CPACK_COMPONENTS_ALL cli)
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME mirdel-cli)
  set(CPACK_DEBIAN_CLI_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_CLI_DESCRIPTION
    "Firmware upload utility for power analyzers, command line
mirdel-cli uploads Motorola S-record firmware files to power analyzers
over an RS-232 line at 115200 baud: it checks every line of the file, shows
the images and segments it holds, sends it with every record acknowledged,
follows the flash writing and reads every segment back to compare it.
.
mirdel-sim plays such an instrument on a pseudo-terminal, for training and
tests. This package needs no desktop.")
endif()
