# Shared part of the mingw-w64 cross tool chains; the per-target files set
# DRELK_MINGW_TRIPLET and the processor before including it.
#
# The "-posix" compilers use the POSIX thread model, which std::thread and GoogleTest
# need. Everything is linked statically, so that the programs import only the system DLLs
# (KERNEL32.dll and msvcrt.dll) and run from any folder without the compiler's DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${DRELK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DRELK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DRELK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DRELK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the programs under wine when it is installed.
find_program(DRELK_WINE wine)
if(DRELK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DRELK_WINE})
endif()
