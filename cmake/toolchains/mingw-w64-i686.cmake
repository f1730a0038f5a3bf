# Cross build of tarvesk.dll with Debian's mingw-w64 toolchain for i686
# Windows (packages g++-mingw-w64-i686 and binutils-mingw-w64).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVESK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
