# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit ARM Linux (arm64: a Raspberry Pi with the 64-bit
# Raspberry Pi OS, other arm64 boards) with Debian's aarch64 cross compiler.
# Qt and libX11 come from Debian's arm64 packages installed beside the amd64
# ones (multiarch, in /usr/lib/aarch64-linux-gnu), and Qt's code generators
# (moc, uic, rcc) from the amd64 packages, which serve both. Built programs
# run here under qemu-aarch64: nothing arm64 can be started directly, since
# no binfmt handler can be relied on.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(VELK_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${VELK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELK_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VELK_CROSS_TRIPLET})

# Libraries and headers from the arm64 packages (multiarch) and the cross
# compiler's own C library; programs (rsvg-convert, gzip) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VELK_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# Tests and other built programs run under qemu-aarch64. The dynamic loader
# and every library come from the arm64 packages, the way a board has them:
# not "-L /usr/aarch64-linux-gnu", whose loader belongs to the cross
# compiler's C library, of another build than the arm64 libc.so.6 it would
# load (programs hang at their first thread).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
