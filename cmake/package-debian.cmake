# The Debian package: `cpack --preset linux` (after the build) makes
# wendrel_<file version>_amd64.deb with both programs, the desktop entry, the
# icons, the AppStream metadata, the manual pages and the bash completion.
# Its dependencies are what dpkg-shlibdeps finds the programs linked against.
include(GNUInstallDirs)

set(WENDREL_PACKAGE_MAINTAINER "The Wendrel developers <wendrel@example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/wendrel)

install(FILES ${packaging}/bash-completion/wendrel-cli
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(WENDREL_GUI)
    configure_file(${PROJECT_SOURCE_DIR}/resources/io.github.wendrel.Wendrel.metainfo.xml
        ${generated}/io.github.wendrel.Wendrel.metainfo.xml @ONLY)
    install(FILES ${generated}/io.github.wendrel.Wendrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wendrel)
set(CPACK_PACKAGE_VERSION ${WENDREL_FILE_VERSION})
set(CPACK_PACKAGE_CONTACT ${WENDREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${WENDREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The first line is the synopsis; CPack indents the rest as the extended
# description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"manage the port mappings of the home router (UPnP IGD)
Wendrel finds the home router - the UPnP Internet gateway device - on the
local network and manages its port mappings. It shows the router's model
name and external address beside this host's local address, lists the
mappings, adds one and deletes others.
.
The package holds two programs: wendrel, a window (GTK 3, Japanese texts),
and wendrel-cli, the same for scripts and servers, with JSON output and
documented exit statuses.")
set(CPACK_STRIP_FILES ON)
# /etc/wendrel/keep.conf is the administrator's: an upgrade asks before replacing it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging}/debian/conffiles)

# Debian policy: the copyright file and a compressed changelog in the
# package's doc folder (changelog.gz: a native package has no Debian revision).
string(TIMESTAMP WENDREL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging}/debian/changelog.in ${generated}/changelog @ONLY)
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9nkf ${generated}/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${packaging}/debian/copyright ${generated}/changelog.gz DESTINATION ${docdir})

include(CPack)
