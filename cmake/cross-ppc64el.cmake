# Debian's ppc64el: 64-bit POWER, little-endian, unsigned char. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(HELLIGKEIT_CROSS_TRIPLE powerpc64le-linux-gnu)
set(HELLIGKEIT_DEB_ARCH ppc64el)
set(HELLIGKEIT_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
