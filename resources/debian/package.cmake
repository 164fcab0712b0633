# The Debian package (tools/package.sh): CPack's DEB generator over the install rules.
# Its dependencies come from the installed binaries through dpkg-shlibdeps, and one more below.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_CONTACT "Quorvel <quorvel@quorvel.example>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# CMAKE_INSTALL_PREFIX is /usr while installing into the package, and DESTDIR the staging
# folder: an install rule that writes the installed path into a file (the refclock's unit)
# then writes /usr/bin/... and not the staging folder's path.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Stripped binaries in the package. Their debugging information stays in the build folder's
# binaries, which carry the same build id: gdb build/quorvel reads a core of the installed
# program. (CPack's quorvel-dbgsym package, CPACK_DEBIAN_DEBUGINFO_PACKAGE, lists the staging
# folder's paths in its md5sums under CPACK_SET_DESTDIR, and lintian rejects it.)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # quorvel_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel <quorvel@quorvel.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (buttons, menus, --help) in Spanish: no library, so dpkg-shlibdeps misses it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The first line is the synopsis; CPack indents the rest and marks the empty line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "show a GPS clock device's time and set the computer's clock from it\n"
    "Quorvel is a small window that sits beside a GPS clock device on a serial\n"
    "port (4800 baud, 8N1). It shows the line the device sends and the local time,\n"
    "date, weekday and summer or winter time of its latest frame, and sets the\n"
    "computer's date and time from them at the press of a button, through\n"
    "systemd-timedated. Its texts are in Spanish.")
if(QUORVEL_LINUX)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "\n\n"
        "quorvel-refclock hands the device's time to chrony as a reference clock. Its\n"
        "systemd unit is installed but neither enabled nor started.")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS chrony)
endif()

include(CPack)

# Everything the install rules take, for tools/package.sh to build before running cpack.
add_custom_target(quorvel_package_contents)
add_dependencies(quorvel_package_contents quorvel quorvel_compressed_docs)
if(QUORVEL_LINUX)
    add_dependencies(quorvel_package_contents quorvel-refclock)
endif()
