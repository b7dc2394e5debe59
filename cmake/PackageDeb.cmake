# The Debian package, made by `cpack -G DEB` in the build folder: the program with its menu entry,
# icons, metainfo and manual page, the licence and the changelog, and a postinst that grants the
# program cap_net_raw.
if(NOT QUORVEL_BUILD_UI)
    return()
endif()
include(GNUInstallDirs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "Quorvel Software Studio")
set(CPACK_PACKAGE_CONTACT "Quorvel Software Studio <mail@quorvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find the MAC address behind each IPv4 address of a LAN")
set(CPACK_PACKAGE_DESCRIPTION [[
Quorvel is a small desktop tool for the administrator of a local network.
Given a range of IPv4 addresses it sends an ARP request for each one, keeps
a table of the IP/MAC pairs that answered, flags MAC addresses that occur
twice, and writes static ARP and DHCP reservation scripts for Windows from
the table.]])
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quorvel.example")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries the program links: the CJK font its windows ask for, the toolkit's
# platform plugins (loaded at run time, so no library dependency names them), setcap for the
# postinst, and the IEEE registry the vendor names come from.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei, qt6-qpa-plugins, libcap2-bin, ieee-data")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(QUORVEL_DEB_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvel)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/postinst.in ${CMAKE_BINARY_DIR}/deb/postinst @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
        WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/postinst)

# Debian's policy: the copyright file and the changelog, compressed without a time stamp, in the
# package's documentation folder.
find_program(QUORVEL_GZIP gzip REQUIRED)
set(changelog ${CMAKE_BINARY_DIR}/deb/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${QUORVEL_GZIP} -9n -c ${CMAKE_CURRENT_LIST_DIR}/deb/changelog > ${changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/deb/changelog VERBATIM)
add_custom_target(quorvel_deb_changelog ALL DEPENDS ${changelog})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/copyright ${changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel)

include(CPack)
