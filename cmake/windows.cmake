# What the Windows build needs in place of the Debian packages of the Linux build:
# CLI11's headers (header-only, so the Linux copy serves), GoogleTest compiled from
# Debian's source package with the cross compiler, and Wine to run the tests.

# CLI11's installed package points at /usr/include, which must not reach the cross
# compiler (it would pick up glibc's headers). Give it the CLI folder alone.
find_path(KESTROVA_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH REQUIRED)
set(cli11Include ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${cli11Include})
file(CREATE_LINK ${KESTROVA_CLI11_INCLUDE}/CLI ${cli11Include}/CLI SYMBOLIC)
add_library(kestrova_cli11 INTERFACE)
target_include_directories(kestrova_cli11 SYSTEM INTERFACE ${cli11Include})
add_library(CLI11::CLI11 ALIAS kestrova_cli11)

if(KESTROVA_TESTS)
  set(KESTROVA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KESTROVA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest (which names its targets GTest::gtest and GTest::gtest_main too) is not
  # held to this project's warning set.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)

  # Every test program runs through Wine with a prefix of its own in the build tree.
  find_program(KESTROVA_WINE NAMES wine wine64 REQUIRED)
  get_filename_component(wineDir ${KESTROVA_WINE} DIRECTORY)
  find_program(KESTROVA_WINESERVER NAMES wineserver wineserver64
               HINTS ${wineDir} /usr/lib/wine REQUIRED)
  set(KESTROVA_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()

# Qt for Windows: Debian ships none, so scripts/build-qt-windows builds a static one from
# Debian's qt6-base source into a cache outside the tree. When it is there, the desktop
# program is built too; Qt's code generators (moc, rcc, uic) are the host's own, of the
# same version.
set(kestrovaQtCache "$ENV{KESTROVA_QT_WINDOWS}")
if(NOT kestrovaQtCache)
  set(kestrovaQtCache "$ENV{HOME}/.cache/kestrova/qt-6.4.2-mingw-static")
endif()
set(KESTROVA_QT_WINDOWS "${kestrovaQtCache}"
    CACHE PATH "Qt for Windows, as scripts/build-qt-windows installs it")
if(EXISTS "${KESTROVA_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake")
  message(STATUS "Qt for Windows: ${KESTROVA_QT_WINDOWS}")
  list(PREPEND CMAKE_FIND_ROOT_PATH "${KESTROVA_QT_WINDOWS}")
  list(PREPEND CMAKE_PREFIX_PATH "${KESTROVA_QT_WINDOWS}")
  set(QT_HOST_PATH /usr CACHE PATH "Where the host's Qt tools are")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/cmake
      CACHE PATH "The host Qt's CMake packages")
  if(NOT CMAKE_LIBRARY_ARCHITECTURE)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake
        CACHE PATH "The host Qt's CMake packages" FORCE)
  endif()
else()
  message(STATUS "Qt for Windows not found in ${KESTROVA_QT_WINDOWS} "
                 "(scripts/build-qt-windows builds it): the desktop program is left out")
  set(kestrovaGuiDefault OFF)
endif()

# The icon, the manifest, and the version Explorer shows in a program file's properties.
function(kestrova_windows_resources target)
  set(KESTROVA_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/kestrova.ico)
  set(KESTROVA_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/kestrova.manifest)
  set(KESTROVA_RC_NAME ${target})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/kestrova.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES OBJECT_DEPENDS
                              "${KESTROVA_ICON};${KESTROVA_MANIFEST}")
endfunction()
