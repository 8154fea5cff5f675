# Debian's i386: 32-bit x86, little-endian. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HELLIGKEIT_CROSS_TRIPLE i686-linux-gnu)
set(HELLIGKEIT_DEB_ARCH i386)
set(HELLIGKEIT_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
