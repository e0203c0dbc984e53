# Provides GoogleTest to a cross build from the sources of Debian's googletest package:
# the host's libgtest cannot be linked into a Windows program, and nothing may be
# downloaded at build time. Loaded through CMAKE_PROJECT_TOP_LEVEL_INCLUDES (see the
# windows presets); answers find_package(GTest) by building gtest and gtest_main in the
# build tree; every other package is left to the ordinary search.
set(DRELK_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build")

macro(drelk_provide_googletest method package_name)
  if("${package_name}" STREQUAL "GTest")
    if(NOT TARGET GTest::gtest)
      if(NOT EXISTS ${DRELK_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest sources in ${DRELK_GOOGLETEST_SOURCE_DIR}: "
                            "install the Debian package googletest")
      endif()
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${DRELK_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                       EXCLUDE_FROM_ALL SYSTEM)
    endif()
    set(GTest_FOUND TRUE)
  endif()
endmacro()

cmake_language(SET_DEPENDENCY_PROVIDER drelk_provide_googletest SUPPORTED_METHODS FIND_PACKAGE)
