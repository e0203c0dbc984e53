# Install rules and packages. `cmake --install` puts the program in bin/ and its manual
# page in share/man/man1/; CPack makes a Debian package of the Linux build and a ZIP of
# the Windows build. Every version string comes from project(VERSION).
include(GNUInstallDirs)

# The manual page carries the version in its footer.
set(DRELK_MANUAL_PAGE ${PROJECT_BINARY_DIR}/docs/drelk.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/drelk.1 ${DRELK_MANUAL_PAGE} @ONLY)

install(TARGETS drelk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${DRELK_MANUAL_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

set(DRELK_PACKAGE_CONTACT "drelk developers <drelk@localhost>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME drelk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "drelk developers")
set(CPACK_PACKAGE_CONTACT "${DRELK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check Fortran COMMON blocks in COFF objects and libraries")
# Lines of at most 80 columns, as the Debian control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "${DRELK_TITLE}. drelk reads COFF object files and COFF archive"
  "libraries, as Fortran compilers for Windows write them, and reports every"
  "COMMON block declared with different sizes and every COMMON block whose name"
  "is also a procedure's.")
# Only the program and its manual page: whatever else a subdirectory installs stays out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(DRELK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DRELK_DPKG_SHLIBDEPS)
  # Depends: the C and C++ runtime versions the binary was linked against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

# Debian keeps manual pages compressed (gzip -9n: no name or time stamp inside).
set(DRELK_PACKAGE_SCRIPT ${PROJECT_BINARY_DIR}/cpack_compress_manual.cmake)
file(CONFIGURE OUTPUT ${DRELK_PACKAGE_SCRIPT} @ONLY CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB_RECURSE page "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/drelk.1")
  if(NOT page MATCHES "/man1/drelk\\.1$")
    message(FATAL_ERROR "The manual page is not among the files to package: ${page}")
  endif()
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip of ${page} failed: ${status}")
  endif()
endif()
]])
set(CPACK_PRE_BUILD_SCRIPTS ${DRELK_PACKAGE_SCRIPT})

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/out/")

include(CPack)
