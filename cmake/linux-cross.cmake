# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for another Linux architecture with Debian's cross compiler for
# it, named by its GNU triplet in the cache variable VELK_CROSS_TRIPLET (the
# presets set it: aarch64-linux-gnu for arm64, arm-linux-gnueabihf for
# armhf). Qt and libX11 come from Debian's packages of that architecture
# installed beside the amd64 ones (multiarch, in /usr/lib/<triplet>), and
# Qt's code generators (moc, uic, rcc) from the amd64 packages, which serve
# every architecture. Built programs run here under qemu-user, the emulator
# named after the triplet's processor (qemu-aarch64, qemu-arm) unless
# VELK_CROSS_EMULATOR names another: nothing of another architecture can be
# started directly, since no binfmt handler can be relied on.
if(NOT VELK_CROSS_TRIPLET)
  message(FATAL_ERROR "cmake/linux-cross.cmake needs VELK_CROSS_TRIPLET, e.g. aarch64-linux-gnu")
endif()
# The checks CMake compiles in projects of their own read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELK_CROSS_TRIPLET VELK_CROSS_EMULATOR)

string(REGEX MATCH "^[^-]+" velk_cross_processor "${VELK_CROSS_TRIPLET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${velk_cross_processor})

set(CMAKE_C_COMPILER ${VELK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELK_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VELK_CROSS_TRIPLET})

# Libraries and headers from the multiarch packages and the cross compiler's
# own C library; programs (rsvg-convert, gzip) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VELK_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# The dynamic loader and every library come from the multiarch packages, the
# way a board has them: not "-L /usr/<triplet>", whose loader belongs to the
# cross compiler's C library, of another build than the libc.so.6 it would
# load (programs hang at their first thread).
if(NOT VELK_CROSS_EMULATOR)
  set(VELK_CROSS_EMULATOR qemu-${velk_cross_processor})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_CROSS_EMULATOR})
