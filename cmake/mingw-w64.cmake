# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers.
# The posix-thread flavour is needed: std::thread and std::mutex are
# missing from the win32-thread one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TERRALUME_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TERRALUME_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERRALUME_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TERRALUME_MINGW_TRIPLE}-windres)

# The libraries built for Windows (Qt, libjpeg, GoogleTest) live in one
# prefix outside the tree; try_compile runs need to see it as well.
if(NOT TERRALUME_MINGW_PREFIX AND DEFINED ENV{TERRALUME_MINGW_PREFIX})
  set(TERRALUME_MINGW_PREFIX "$ENV{TERRALUME_MINGW_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TERRALUME_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${TERRALUME_MINGW_TRIPLE})
if(TERRALUME_MINGW_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${TERRALUME_MINGW_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs are started through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
