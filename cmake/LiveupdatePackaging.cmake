# The Debian package (make deb, or cpack -G DEB in the build folder): what an
# install puts under /usr, stripped, its run-time dependencies worked out by
# dpkg-shlibdeps from the programs and libraries it holds.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME liveupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "segmented downloads (multidl) and a desktop auto-updater (liveupdate)")
set(CPACK_PACKAGE_DESCRIPTION "\
multidl downloads HTTP, HTTPS and FTP resources in parallel segments, several
at once, with retries and resumption. liveupdate fetches an update list from an
update server, downloads and installs the listed files and restarts the main
application; liveupdate-serve serves a local update site. The package also
holds the download component for embedding: headers, static libraries, a CMake
package and a pkg-config file.")
set(CPACK_PACKAGE_CONTACT "liveupdate maintainers <liveupdate@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What embedding the component needs beyond the package itself.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "g++, cmake, pkg-config, zlib1g-dev, libcairo2-dev, nlohmann-json3-dev")
include(CPack)
