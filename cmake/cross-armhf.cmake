# Debian's armhf: 32-bit ARM (hard float), little-endian, unsigned char. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(HELLIGKEIT_CROSS_TRIPLE arm-linux-gnueabihf)
set(HELLIGKEIT_DEB_ARCH armhf)
set(HELLIGKEIT_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
