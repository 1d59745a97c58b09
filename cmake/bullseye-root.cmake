# The compilers and libraries of the Debian 11 root that scripts/release.sh
# makes: TL_BUILD_ROOT is its folder, with the root in root/ and, in bin/,
# gcc, g++, ar and ranlib, which run the root's tools inside it (the
# checkout is mounted there at its own path). Inside the root, the root's
# own path leads back to "/", so the paths found here work there too.
# Programs run during the build (python3, the cloud configuration tool)
# are the host's.

set(root ${TL_BUILD_ROOT}/root)
if(CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  # Included again after project(): the compiler's own folders, as found
  # here, stay off the command lines (an -isystem of /usr/include would
  # break #include_next) and out of the program's RUNPATH.
  foreach(var C_IMPLICIT_INCLUDE CXX_IMPLICIT_INCLUDE C_IMPLICIT_LINK CXX_IMPLICIT_LINK)
    foreach(dir ${CMAKE_${var}_DIRECTORIES})
      list(APPEND CMAKE_${var}_DIRECTORIES ${root}${dir})
    endforeach()
  endforeach()
  return()
endif()
if(NOT TL_BUILD_ROOT)
  message(FATAL_ERROR "TL_BUILD_ROOT is not set: this build is made by scripts/release.sh")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TL_BUILD_ROOT)
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_FILE})

set(CMAKE_C_COMPILER ${TL_BUILD_ROOT}/bin/gcc)
set(CMAKE_CXX_COMPILER ${TL_BUILD_ROOT}/bin/g++)
set(CMAKE_AR ${TL_BUILD_ROOT}/bin/ar)
set(CMAKE_RANLIB ${TL_BUILD_ROOT}/bin/ranlib)

set(CMAKE_FIND_ROOT_PATH ${root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
