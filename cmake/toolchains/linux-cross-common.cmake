# What both ARM Linux toolchains share; each sets CMAKE_SYSTEM_PROCESSOR,
# TARVESK_CROSS_TRIPLET and TARVESK_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TARVESK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TARVESK_CROSS_TRIPLET}-g++)
# Debian's multiarch name: the package puts the library in lib/<triplet>/jni.
set(CMAKE_LIBRARY_ARCHITECTURE ${TARVESK_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${TARVESK_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under qemu-user, which takes the target's own libraries
# from the cross toolchain's directory.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVESK_QEMU} -L /usr/${TARVESK_CROSS_TRIPLET})
