# Debian's arm64: 64-bit ARM, little-endian, unsigned char. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(HELLIGKEIT_CROSS_TRIPLE aarch64-linux-gnu)
set(HELLIGKEIT_DEB_ARCH arm64)
set(HELLIGKEIT_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
