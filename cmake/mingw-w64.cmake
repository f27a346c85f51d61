# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (POSIX threads,
# so std::thread and std::mutex work).  QUILORA_WIN64_PREFIX names the folder
# holding the third-party builds (Qt, curl, PCRE2, SQLite, headers, GoogleTest).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILORA_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QUILORA_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILORA_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT QUILORA_WIN64_PREFIX AND DEFINED ENV{QUILORA_WIN64_PREFIX})
  set(QUILORA_WIN64_PREFIX $ENV{QUILORA_WIN64_PREFIX})
endif()
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILORA_WIN64_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILORA_MINGW_TRIPLE})
if(QUILORA_WIN64_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QUILORA_WIN64_PREFIX} ${QUILORA_WIN64_PREFIX}/qt)
endif()
# Programs (moc, uic, pkg-config) come from the build machine; everything
# linked into a program comes from the Windows side only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runs a test program (GoogleTest's discovery) when asked to.
find_program(QUILORA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILORA_WINE})
endif()
