# Install rules and packages. `cmake --install` puts the program in bin/ and its manual
# page in share/man/man1/; CPack makes a Debian package of the Linux build and a ZIP of
# the Windows build. Every version string comes from project(VERSION).
include(GNUInstallDirs)

# The manual page carries the version in its footer.
set(DRELK_MANUAL_PAGE ${PROJECT_BINARY_DIR}/docs/drelk.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/drelk.1 ${DRELK_MANUAL_PAGE} @ONLY)

if(WIN32)
  # The Windows zip is one folder: the program, a readme, the licence and the manual as
  # HTML and text (Windows has no reader of manual pages). groff renders the manual.
  install(TARGETS drelk RUNTIME DESTINATION . COMPONENT Runtime)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in
                 ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt COPYONLY)
  set(drelk_windows_documents ${PROJECT_BINARY_DIR}/packaging/README.txt
                              ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt)
  find_program(DRELK_GROFF groff)
  if(DRELK_GROFF)
    add_custom_command(
      OUTPUT ${PROJECT_BINARY_DIR}/packaging/drelk.html ${PROJECT_BINARY_DIR}/packaging/drelk.txt
      COMMAND ${DRELK_GROFF} -man -Thtml ${DRELK_MANUAL_PAGE} > packaging/drelk.html
      COMMAND ${DRELK_GROFF} -man -Tascii -P-cbou ${DRELK_MANUAL_PAGE} > packaging/drelk.txt
      DEPENDS ${DRELK_MANUAL_PAGE}
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      COMMENT "Rendering the manual as HTML and text")
    add_custom_target(drelk_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/drelk.html)
    list(APPEND drelk_windows_documents ${PROJECT_BINARY_DIR}/packaging/drelk.html
                                        ${PROJECT_BINARY_DIR}/packaging/drelk.txt)
  else()
    message(WARNING "groff was not found: the Windows zip will hold no manual "
                    "(apt-get install groff)")
  endif()
  install(FILES ${drelk_windows_documents} DESTINATION . COMPONENT Runtime)
else()
  install(TARGETS drelk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES ${DRELK_MANUAL_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

  # The integrations: the fpm plugin beside the program (fpm finds fpm-drelk on PATH), and
  # the CMake package that find_package(drelk) finds, with drelk_check(). The package only
  # names a program, so one copy serves every architecture.
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/integrations/fpm/fpm-drelk
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/integrations/fpm/fpm-drelk.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
  include(CMakePackageConfigHelpers)
  set(DRELK_INSTALL_PROGRAM ${CMAKE_INSTALL_BINDIR}/drelk)
  set(DRELK_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_DATADIR}/cmake/drelk)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/integrations/cmake/drelkConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/integrations/drelkConfig.cmake
                                INSTALL_DESTINATION ${DRELK_INSTALL_CMAKE_DIR}
                                PATH_VARS DRELK_INSTALL_PROGRAM)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/integrations/drelkConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
  install(FILES ${PROJECT_BINARY_DIR}/integrations/drelkConfig.cmake
                ${PROJECT_BINARY_DIR}/integrations/drelkConfigVersion.cmake
                ${PROJECT_SOURCE_DIR}/integrations/cmake/drelkCheck.cmake
          DESTINATION ${DRELK_INSTALL_CMAKE_DIR} COMPONENT Runtime)
endif()

# The maintainer named in the packages: set it to the real one when building packages
# for others (-DDRELK_PACKAGE_CONTACT="Name <address>").
set(DRELK_PACKAGE_CONTACT "drelk developers <drelk@example.org>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME drelk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "drelk developers")
set(CPACK_PACKAGE_CONTACT "${DRELK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check Fortran COMMON blocks in object files and libraries")
# Lines of at most 80 columns, as the Debian control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "${DRELK_TITLE}. drelk reads object files and archive libraries"
  "in the COFF (Windows), ELF (Linux and other Unix systems, GCC's LTO objects"
  "included) and Mach-O (macOS, universal files too) formats, and reports"
  "every COMMON block declared with different sizes and every COMMON block"
  "whose name is also a procedure's. With debug information it lists the"
  "members of each inconsistent block. Its report is text, JSON or SARIF.")
# Only the program, its integrations and their manual pages: whatever else a subdirectory
# installs stays out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
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
  if("zlib" IN_LIST DRELK_DECOMPRESSORS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", zlib1g")
  endif()
  if("zstd" IN_LIST DRELK_DECOMPRESSORS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libzstd1")
  endif()
endif()

# The Debian package's documents: the copyright file, the Debian changelog (whose date is
# the release date) and the upstream changelog.
if(NOT WIN32)
  execute_process(COMMAND date -u -R -d "${DRELK_RELEASE_DATE} 12:00"
                  OUTPUT_VARIABLE DRELK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE date_status)
  if(NOT date_status EQUAL 0)
    set(DRELK_RELEASE_DATE_RFC2822 "${DRELK_RELEASE_DATE}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
                 ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
endif()

# Before the Debian package is made: the manual page and the changelogs compressed as Debian
# keeps them (gzip -9n: no name or time stamp inside), the copyright file added, and the
# compiler's identification section dropped from the stripped program.
set(DRELK_PACKAGE_SCRIPT ${PROJECT_BINARY_DIR}/cpack_prepare_package.cmake)
file(CONFIGURE OUTPUT ${DRELK_PACKAGE_SCRIPT} @ONLY CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  file(GLOB_RECURSE page "${root}/drelk.1")
  if(NOT page MATCHES "/man1/drelk\\.1$")
    message(FATAL_ERROR "The manual page is not among the files to package: ${page}")
  endif()
  get_filename_component(usr "${page}/../../../.." ABSOLUTE)
  set(doc "${usr}/share/doc/drelk")
  file(MAKE_DIRECTORY "${doc}")
  file(COPY_FILE "@PROJECT_SOURCE_DIR@/packaging/debian/copyright" "${doc}/copyright")
  file(COPY_FILE "@PROJECT_BINARY_DIR@/packaging/changelog.Debian" "${doc}/changelog.Debian")
  file(COPY_FILE "@PROJECT_SOURCE_DIR@/CHANGELOG.md" "${doc}/changelog")
  foreach(file "${page}" "${usr}/share/man/man1/fpm-drelk.1" "${doc}/changelog.Debian"
               "${doc}/changelog")
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip of ${file} failed: ${status}")
    endif()
  endforeach()
  file(CHMOD "${doc}/copyright" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note
                          "${usr}/bin/drelk" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objcopy of ${usr}/bin/drelk failed: ${status}")
  endif()
endif()
]])
set(CPACK_PRE_BUILD_SCRIPTS ${DRELK_PACKAGE_SCRIPT})

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/out/")

include(CPack)
