# Debian's s390x: 64-bit IBM Z, big-endian, unsigned char. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(HELLIGKEIT_CROSS_TRIPLE s390x-linux-gnu)
set(HELLIGKEIT_DEB_ARCH s390x)
set(HELLIGKEIT_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
