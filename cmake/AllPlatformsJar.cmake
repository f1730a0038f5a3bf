# all-platforms/tarvesk.jar: tarvesk.jar with the library of every platform
# tarvesk is built for, cross built here:
#   cmake --build build --target tarvesk_all_platforms_jar
# Each cross build has a tree of its own in this build, the one its tests use,
# so after a test run there is nothing left to compile.
set(TARVESK_CROSS_BUILDS
    "linux-aarch64|aarch64-linux-gnu|tests/cross/aarch64"
    "linux-armhf|arm-linux-gnueabihf|tests/cross/armhf"
    "windows-x86_64|mingw-w64-x86_64|tests/win32/x86_64"
    "windows-x86|mingw-w64-i686|tests/win32/i686")

set(TARVESK_ALL_PLATFORMS_JAR ${PROJECT_BINARY_DIR}/all-platforms/tarvesk.jar)
set(tarvesk_cross_commands)
set(tarvesk_cross_natives)
foreach(cross_build IN LISTS TARVESK_CROSS_BUILDS)
  string(REPLACE "|" ";" cross_build "${cross_build}")
  list(GET cross_build 1 toolchain)
  list(GET cross_build 2 tree)
  list(APPEND tarvesk_cross_commands
       COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBINARY_DIR=${PROJECT_BINARY_DIR}/${tree}
               -DTOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
               -DJNI_INCLUDE_DIR=${JAVA_INCLUDE_PATH} -DGENERATOR=${CMAKE_GENERATOR}
               -P ${PROJECT_SOURCE_DIR}/tests/win32/build_dll.cmake)
  list(APPEND tarvesk_cross_natives -C ${PROJECT_BINARY_DIR}/${tree}/natives quorin)
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
