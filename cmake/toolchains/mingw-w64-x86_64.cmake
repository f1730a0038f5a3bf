# Cross build of tarvesk.dll with Debian's mingw-w64 toolchain for x86_64
# Windows (packages g++-mingw-w64-x86-64 and binutils-mingw-w64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVESK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
