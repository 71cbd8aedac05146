# The Windows package: `cpack` in the windows build makes
# wendrel-<file version>-win64.zip, a folder with both programs and a README.
# The file version names it: it grows with every build, while the product
# version stays the same for every build of a release.
set(WENDREL_README ${CMAKE_BINARY_DIR}/packaging/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${WENDREL_README}
    @ONLY NEWLINE_STYLE CRLF)
install(FILES ${WENDREL_README} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME wendrel)
set(CPACK_PACKAGE_VERSION ${WENDREL_FILE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Finds the home router (UPnP IGD) and manages its port mappings")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
# Static executables: symbols are all the stripping takes away.
set(CPACK_STRIP_FILES ON)
include(CPack)
