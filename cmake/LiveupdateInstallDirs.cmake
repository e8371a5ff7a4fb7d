# Where an install puts things: PREFIX/bin, PREFIX/lib, PREFIX/include/liveupdate,
# PREFIX/share. Included before any target is made, because a target takes its
# install run path from CMAKE_INSTALL_RPATH when it is created.

# The libraries go to PREFIX/lib, not to a multiarch folder below it: programs
# find them through a run path relative to their own folder.
set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Libraries, the CMake package and the pkg-config file")
include(GNUInstallDirs)

set(LIVEUPDATE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/liveupdate)
set(LIVEUPDATE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/liveupdate)

# Installed programs find the libraries (and the binding its internet library)
# relative to themselves, so a prefix can be moved or packaged as a whole; no
# build folder is left in an installed file.
file(RELATIVE_PATH _liveupdate_lib_from_bin /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set(CMAKE_INSTALL_RPATH "\$ORIGIN/${_liveupdate_lib_from_bin}")

# The programs an install carries, when this build has them.
set(LIVEUPDATE_PROGRAMS multidl liveupdate liveupdate-serve liveupdate-publish)
