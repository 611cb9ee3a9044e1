# The Debian package, made by cpack (scripts/package.sh runs it on a Release build configured
# with the prefix /usr): the files cmake --install puts under /usr, stripped, plus the copyright
# file and changelog a Debian package carries in /usr/share/doc/pixmole.
set(PIXMOLE_MAINTAINER "The Pixmole developers <maintainers@users.noreply.c-seed-44ca638f.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pixmole)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pixmole developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and cut out one-bit graphics hidden in binary files")
# Wrapped by hand: cpack passes the lines as they are, and Debian wants them short.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Pixmole finds the one-bit graphics (sprites, fonts, bitmaps) stored in a\n"
    "program, a ROM, a game's data or any other binary file by itself: it scans\n"
    "the file and tells where each region of graphics lies and how many bytes\n"
    "wide its rows are (the Find menu in the viewer, --find on the command\n"
    "line), so that nobody has to hunt for them by hand.\n"
    "\n"
    "It paints the bytes as one-bit pixels, eight to a byte, most significant\n"
    "bit on the left. The sprite width, the first row, a fine offset,\n"
    "side-by-side columns, magnification, inversion and a grid are set with\n"
    "scroll bars, keys and check boxes; a selected rectangle is written out as\n"
    "packed bits, the view as PNG, a run of bytes as a binary file.\n"
    "\n"
    "The package holds the viewer (pixmole, GTK 3) and pixmole-batch, which\n"
    "lists the same graphics, renders the same views and cuts out the same\n"
    "selections from the command line, without a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # pixmole_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PIXMOLE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # Depends: from the libraries the programs link
# The staged files are finished as Debian's own packages have them just before they are packed.
set(CPACK_PIXMOLE_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/debian/staging.cmake")
include(CPack)
