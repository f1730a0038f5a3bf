# Cross build of libtarvesk.so for 32-bit ARM Linux with hardware floating
# point (Debian armhf) with Debian's g++-arm-linux-gnueabihf; tests run under
# qemu-arm (qemu-user).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TARVESK_CROSS_TRIPLET arm-linux-gnueabihf)
set(TARVESK_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
