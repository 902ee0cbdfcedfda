# The Debian package of the Linux build (scripts/package-deb): one package with both
# programs and the GIS module. The desktop program links GDAL itself, so GDAL is a
# dependency, found with every other library by dpkg-shlibdeps from the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Kestrova developers")
set(CPACK_PACKAGE_CONTACT "The Kestrova developers <kestrova@kestrova.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "survey coordinate files to Jw_cad drawings")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrova keeps a table of surveyed points, reads and writes the coordinate
files that survey instruments and office software exchange (ZHY, tab and
space lists, APA, SIMA), plots and prints them, and turns them into Jw_cad
drawings: .jww files in seven format versions, or the clipboard hand-over
that pastes into a running Jw_cad.

This package holds the desktop program kestrova (Qt 6, in Japanese), the
command-line tool kestrova-cli, and the module through which both export to
and read from GeoPackage, GeoJSON, KML, Shapefile and DXF with GDAL.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KESTROVA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Japanese faces for the window, the plot and the printed list, and Qt's own dialogs
# in Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-ipafont-gothic | fonts-vlgothic | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
