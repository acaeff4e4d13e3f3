# The Windows installer (cpack -G NSIS in the Windows build folder, with
# Debian's nsis): mirdel.exe, mirdel-cli.exe and the manual in one folder
# under Program Files, a Start-menu folder, an uninstaller and an entry in
# the system's list of installed programs. The files are those the folders'
# install rules name; silent with /S (and /D=folder), the uninstaller too.
set(CPACK_GENERATOR NSIS)
# The NSIS lines below reach the script as written here.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME Mirdel)
set(CPACK_PACKAGE_VENDOR "Varno Instruments")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upload utility for Varno power analyzers")
set(CPACK_PACKAGE_FILE_NAME Mirdel-${PROJECT_VERSION}-win64)
# The licence with Windows line ends, for the installer's page and the folder.
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/License.txt @ONLY NEWLINE_STYLE CRLF)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/License.txt)
# Everything in one piece: no choice of components to make.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)

# 64-bit programs: the 64-bit installer stub and the 64-bit Program Files.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Mirdel)
# The key under ...\CurrentVersion\Uninstall and the Start-menu folder.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Mirdel)
set(CPACK_NSIS_PACKAGE_NAME Mirdel)
set(CPACK_NSIS_DISPLAY_NAME Mirdel)
set(CPACK_NSIS_INSTALLED_ICON_NAME mirdel.exe)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN mirdel.exe)
# An installer run over an older one removes that first.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# For the system's list of programs and for scripted removal.
set(uninstall_key "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirdel")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  WriteRegStr SHCTX \"${uninstall_key}\" \"InstallLocation\" \"$INSTDIR\"
  WriteRegStr SHCTX \"${uninstall_key}\" \"QuietUninstallString\" '\"$INSTDIR\\Uninstall.exe\" /S'")

# Start menu: the program, and its manual (links to files of the install
# folder, which is also where the executables lie).
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_MENU_LINKS mirdel.exe Mirdel Mirdel.pdf "Mirdel manual")
# The uninstaller removes the maker's key under Software once it is empty
# (the standard script removes only the product's own key below it); it
# runs after the Start-menu links are gone.
set(CPACK_NSIS_DELETE_ICONS_EXTRA "
  DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")

# The licence the installer shows, also beside the programs.
install(FILES ${PROJECT_BINARY_DIR}/License.txt DESTINATION . COMPONENT desktop)

include(CPack)
