# Cross build of libtarvesk.so for 64-bit ARM Linux (Debian arm64) with
# Debian's g++-aarch64-linux-gnu; tests run under qemu-aarch64 (qemu-user).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TARVESK_CROSS_TRIPLET aarch64-linux-gnu)
set(TARVESK_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
