# The Windows packages: `cpack` in the windows build makes
# wendrel-<file version>-win64.zip, a folder with both programs and a README,
# and wendrel-<file version>-win64.exe, an installer that puts the same files
# under Program Files with a Start-menu shortcut and an uninstaller.
# The file version names them: it grows with every build, while the product
# version stays the same for every build of a release.
set(WENDREL_README ${CMAKE_BINARY_DIR}/packaging/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${WENDREL_README}
    @ONLY NEWLINE_STYLE CRLF)
install(FILES ${WENDREL_README} DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME wendrel)
set(CPACK_PACKAGE_VERSION ${WENDREL_FILE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Finds the home router (UPnP IGD) and manages its port mappings")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
# Static executables: symbols are all the stripping takes away.
set(CPACK_STRIP_FILES ON)

# NSIS builds a 32-bit installer unless told otherwise; a 64-bit one installs
# into the 64-bit Program Files and runs where only 64-bit programs do.
set(CPACK_PACKAGE_VENDOR ${WENDREL_PRODUCT_NAME})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${WENDREL_PRODUCT_NAME})
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${WENDREL_PRODUCT_NAME})
# The Start-menu folder is "Wendrel", whatever the version (NSIS would name it
# after the installer's title, which carries the version).
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n!define MUI_STARTMENUPAGE_DEFAULTFOLDER ${WENDREL_PRODUCT_NAME}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "${WENDREL_PRODUCT_NAME} ${WENDREL_PRODUCT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "${WENDREL_PRODUCT_NAME} ${WENDREL_PRODUCT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/wendrel.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/wendrel.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME wendrel.exe)
# The programs sit at the top of the installation folder, not in bin\.
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_PACKAGE_EXECUTABLES wendrel ${WENDREL_PRODUCT_NAME})
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
include(CPack)
