# Cross-compiles the core for s390x, a big-endian Linux, whose programs run
# here under qemu-user: the same world on a machine that orders its bytes
# the other way round. Linked statically, so qemu needs no s390x libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

if(NOT TERRALUME_S390X_PREFIX AND DEFINED ENV{TERRALUME_S390X_PREFIX})
  set(TERRALUME_S390X_PREFIX "$ENV{TERRALUME_S390X_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TERRALUME_S390X_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu ${TERRALUME_S390X_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)
