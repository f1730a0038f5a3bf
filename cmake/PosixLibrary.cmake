# libtarvesk.so: the core on the Linux platform layer, plus the Java peer jar.
find_package(JNI REQUIRED)
find_package(Java REQUIRED COMPONENTS Development)
include(UseJava)

add_library(tarvesk_core OBJECT ${TARVESK_CORE_SOURCES})
target_include_directories(tarvesk_core PUBLIC ${PROJECT_SOURCE_DIR}/src ${JNI_INCLUDE_DIRS})

file(GLOB TARVESK_POSIX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/posix/*.cpp)
add_library(tarvesk_posix OBJECT ${TARVESK_POSIX_SOURCES})
target_include_directories(tarvesk_posix PUBLIC ${PROJECT_SOURCE_DIR}/src)

# Only the JNI functions leave the library; the JVM loads it by this name.
# Hidden visibility does not reach the std:: templates the code instantiates
# (libstdc++ declares them visible), so a version script keeps those in as well.
add_library(tarvesk SHARED $<TARGET_OBJECTS:tarvesk_core> $<TARGET_OBJECTS:tarvesk_posix>)
set(TARVESK_EXPORTS_MAP ${CMAKE_CURRENT_BINARY_DIR}/tarvesk-exports.map)
file(WRITE ${TARVESK_EXPORTS_MAP} "{ global: Java_quorin_io_comm_*; local: *; };\n")
target_link_options(tarvesk PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL
                    -Wl,--version-script=${TARVESK_EXPORTS_MAP})
set_property(TARGET tarvesk APPEND PROPERTY LINK_DEPENDS ${TARVESK_EXPORTS_MAP})

set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all -Werror --release 11)
file(GLOB TARVESK_JAVA_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/java/quorin/io/comm/*.java)
add_jar(tarvesk_java SOURCES ${TARVESK_JAVA_SOURCES} OUTPUT_NAME tarvesk)
include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
