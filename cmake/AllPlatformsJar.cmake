# all-platforms/tarvesk.jar: tarvesk.jar with the library of every platform
# tarvesk is built for, cross built here:
#   cmake --build build --target tarvesk_all_platforms_jar
# Each cross build has its tree in cross/<platform> of this build, where the
# tests of the builds use it too, so after a test run there is nothing left to
# compile.
include(${CMAKE_CURRENT_LIST_DIR}/CrossBuild.cmake)

# <platform>|<toolchain>: the platform as the jar names it (JarPlatform.cmake),
# the toolchain file under toolchains/.
set(TARVESK_CROSS_BUILDS
    "linux-aarch64|aarch64-linux-gnu"
    "linux-armhf|arm-linux-gnueabihf"
    "windows-x86_64|mingw-w64-x86_64"
    "windows-x86|mingw-w64-i686")
set(TARVESK_CROSS_DIR ${PROJECT_BINARY_DIR}/cross)

set(TARVESK_ALL_PLATFORMS_JAR ${PROJECT_BINARY_DIR}/all-platforms/tarvesk.jar)
set(tarvesk_cross_commands)
set(tarvesk_cross_natives)
foreach(cross_build IN LISTS TARVESK_CROSS_BUILDS)
  string(REPLACE "|" ";" cross_build "${cross_build}")
  list(GET cross_build 0 platform)
  list(GET cross_build 1 toolchain)
  tarvesk_cross_build(command ${toolchain} ${TARVESK_CROSS_DIR}/${platform})
  list(APPEND tarvesk_cross_commands COMMAND ${command})
  list(APPEND tarvesk_cross_natives -C ${TARVESK_CROSS_DIR}/${platform}/natives quorin)
endforeach()

get_target_property(tarvesk_jar tarvesk_java JAR_FILE)
add_custom_target(tarvesk_all_platforms_jar
  ${tarvesk_cross_commands}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/all-platforms
  COMMAND ${CMAKE_COMMAND} -E copy ${tarvesk_jar} ${TARVESK_ALL_PLATFORMS_JAR}
  COMMAND ${Java_JAR_EXECUTABLE} --update --file ${TARVESK_ALL_PLATFORMS_JAR} ${tarvesk_cross_natives}
  COMMENT "Cross building for every platform and packing ${TARVESK_ALL_PLATFORMS_JAR}"
  VERBATIM)
add_dependencies(tarvesk_all_platforms_jar tarvesk_java)
