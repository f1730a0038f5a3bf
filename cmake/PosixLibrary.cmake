# libtarvesk.so: the core on the Linux platform layer, plus the Java peer jar.
if(CMAKE_CROSSCOMPILING)
  # Only the headers are needed; a JDK of the target's architecture is not.
  include(${CMAKE_CURRENT_LIST_DIR}/HostJdkHeaders.cmake)
  set(JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIR} ${JNI_INCLUDE_DIR}/linux)
else()
  find_package(JNI REQUIRED)
endif()
find_package(Java REQUIRED COMPONENTS Development)
include(UseJava)

# Object libraries, so that the test programs link what the library is made of.
add_library(tarvesk_port OBJECT ${TARVESK_PORT_SOURCES})
target_include_directories(tarvesk_port PUBLIC ${PROJECT_SOURCE_DIR}/src)
add_library(tarvesk_natives OBJECT ${TARVESK_NATIVES_SOURCES})
target_include_directories(tarvesk_natives PUBLIC ${PROJECT_SOURCE_DIR}/src ${JNI_INCLUDE_DIRS}
                                                  ${TARVESK_JNI_HEADERS_DIR})
# A native defined without its prototype from the Java declaration is a
# native that no declaration calls.
target_compile_options(tarvesk_natives PRIVATE -Wmissing-declarations)

# wsprintfW, wcslen and wcsncmp touch no device: the unit tests use them too.
set(TARVESK_TEXT_SOURCES ${PROJECT_SOURCE_DIR}/src/platform/posix/win32_calls/text.cpp)
add_library(tarvesk_text OBJECT ${TARVESK_TEXT_SOURCES})
target_include_directories(tarvesk_text PUBLIC ${PROJECT_SOURCE_DIR}/src)
# The Win32 calls the core makes, and the Linux pieces they stand on.
file(GLOB TARVESK_POSIX_SOURCES CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/src/platform/posix/win32_calls/*.cpp
     ${PROJECT_SOURCE_DIR}/src/platform/posix/linux/*.cpp)
list(REMOVE_ITEM TARVESK_POSIX_SOURCES ${TARVESK_TEXT_SOURCES})
add_library(tarvesk_posix OBJECT ${TARVESK_POSIX_SOURCES})
target_include_directories(tarvesk_posix PUBLIC ${PROJECT_SOURCE_DIR}/src)

# Only the JNI functions leave the library; the JVM loads it by this name.
# Hidden visibility does not reach the std:: templates the code instantiates
# (libstdc++ declares them visible), so a version script keeps those in as well.
add_library(tarvesk SHARED $<TARGET_OBJECTS:tarvesk_port> $<TARGET_OBJECTS:tarvesk_natives>
                           $<TARGET_OBJECTS:tarvesk_posix> $<TARGET_OBJECTS:tarvesk_text>)
set(TARVESK_EXPORTS_MAP ${CMAKE_CURRENT_BINARY_DIR}/tarvesk-exports.map)
# Rewritten only when it changes, so configuring again does not relink.
file(CONFIGURE OUTPUT ${TARVESK_EXPORTS_MAP}
     CONTENT "{ global: Java_quorin_io_comm_*; local: *; };\n")
target_link_options(tarvesk PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL
                    -Wl,--version-script=${TARVESK_EXPORTS_MAP})
set_property(TARGET tarvesk APPEND PROPERTY LINK_DEPENDS ${TARVESK_EXPORTS_MAP})

set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all -Werror --release 11)
file(GLOB TARVESK_JAVA_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/java/quorin/io/comm/*.java)
# The classes alone: what the Debian package installs beside its library.
add_jar(tarvesk_classes SOURCES ${TARVESK_JAVA_SOURCES} OUTPUT_NAME tarvesk-classes)
get_target_property(TARVESK_CLASSES_JAR tarvesk_classes JAR_FILE)

# tarvesk.jar: the classes and this build's library, stripped, for the loader
# to fall back on when the JVM finds none of its own.
include(${CMAKE_CURRENT_LIST_DIR}/JarPlatform.cmake)
set(tarvesk_jar ${PROJECT_BINARY_DIR}/tarvesk.jar)
add_custom_command(
  OUTPUT ${tarvesk_jar}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVESK_NATIVE_DIR}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${TARVESK_NATIVE_DIR}/libtarvesk.so
          $<TARGET_FILE:tarvesk>
  COMMAND ${CMAKE_COMMAND} -E copy ${TARVESK_CLASSES_JAR} ${tarvesk_jar}
  COMMAND ${Java_JAR_EXECUTABLE} --update --file ${tarvesk_jar} -C ${TARVESK_NATIVES_DIR} quorin
  DEPENDS tarvesk tarvesk_classes ${TARVESK_CLASSES_JAR}
  COMMENT "Packing the classes and ${TARVESK_JAR_PLATFORM}/libtarvesk.so into tarvesk.jar")
add_custom_target(tarvesk_java ALL DEPENDS ${tarvesk_jar})
set_target_properties(tarvesk_java PROPERTIES JAR_FILE ${tarvesk_jar})

# The public API's documentation, built with the jar as Java users expect of a
# library. Broken links, bad HTML and unknown tags fail the build; members may
# be described in prose without a tag for every parameter. No index: two
# classes need no search, and it would bundle jQuery into the package.
set(TARVESK_JAVADOC_DIR ${PROJECT_BINARY_DIR}/javadoc)
add_custom_command(
  OUTPUT ${TARVESK_JAVADOC_DIR}/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARVESK_JAVADOC_DIR}
  COMMAND ${Java_JAVADOC_EXECUTABLE} -quiet -noindex -Xdoclint:all,-missing -Werror
          -d ${TARVESK_JAVADOC_DIR} -sourcepath ${PROJECT_SOURCE_DIR}/java quorin.io.comm
  DEPENDS ${TARVESK_JAVA_SOURCES}
  COMMENT "Documenting the Java API in ${TARVESK_JAVADOC_DIR}")
add_custom_target(tarvesk_javadoc ALL DEPENDS ${TARVESK_JAVADOC_DIR}/index.html)
include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
