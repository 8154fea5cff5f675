# Debian's i386: 32-bit x86, little-endian. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HELLIGKEIT_CROSS_TRIPLE i686-linux-gnu)
set(HELLIGKEIT_DEB_ARCH i386)
# The build machine's processor runs 32-bit x86 programs itself, each
# through the machine's dynamic loader from the cross root. qemu-i386 (7.2)
# cannot stand in: the child of a dynamically linked program's fork spins
# for ever, and a signal that interrupts a read while another thread runs
# aborts a static one.
set(HELLIGKEIT_CROSS_RUNNER /usr/${HELLIGKEIT_CROSS_TRIPLE}/lib/ld-linux.so.2
                            --library-path /usr/${HELLIGKEIT_CROSS_TRIPLE}/lib)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
