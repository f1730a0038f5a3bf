# The JNI contract from one source, the native declarations of the Java peer
# classes: javac -h writes their C prototypes into TARVESK_JNI_HEADERS_DIR,
# which the bridge and discovery include, so that a native whose name or
# parameters drift from its declaration fails to compile; and the functions
# the library exports, TARVESK_JNI_FUNCTIONS, which the tests find in the
# export table of every build, are read from those prototypes. Done when the
# build is configured, and again whenever a Java source changes.
find_package(Java REQUIRED COMPONENTS Development)

get_filename_component(tarvesk_java_dir ${CMAKE_CURRENT_LIST_DIR}/../java ABSOLUTE)
file(GLOB tarvesk_peer_sources CONFIGURE_DEPENDS ${tarvesk_java_dir}/quorin/io/comm/*.java)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tarvesk_peer_sources})

set(TARVESK_JNI_HEADERS_DIR ${CMAKE_BINARY_DIR}/jni-headers)
# Written afresh beside the headers, which are replaced only where they
# change, so that configuring again recompiles nothing; a header of a class
# that is gone goes too.
set(tarvesk_javac_dir ${CMAKE_BINARY_DIR}/jni-headers-javac)
file(REMOVE_RECURSE ${tarvesk_javac_dir})
execute_process(COMMAND ${Java_JAVAC_EXECUTABLE} --release 11 -h ${tarvesk_javac_dir}/headers
                        -d ${tarvesk_javac_dir}/classes ${tarvesk_peer_sources}
                RESULT_VARIABLE tarvesk_javac_result ERROR_VARIABLE tarvesk_javac_errors)
if(NOT tarvesk_javac_result EQUAL 0)
  message(FATAL_ERROR "javac -h could not write the natives' prototypes:\n${tarvesk_javac_errors}")
endif()
file(GLOB tarvesk_jni_headers RELATIVE ${tarvesk_javac_dir}/headers ${tarvesk_javac_dir}/headers/*.h)
file(GLOB tarvesk_old_headers RELATIVE ${TARVESK_JNI_HEADERS_DIR} ${TARVESK_JNI_HEADERS_DIR}/*.h)
foreach(header IN LISTS tarvesk_old_headers)
  if(NOT header IN_LIST tarvesk_jni_headers)
    file(REMOVE ${TARVESK_JNI_HEADERS_DIR}/${header})
  endif()
endforeach()

file(MAKE_DIRECTORY ${TARVESK_JNI_HEADERS_DIR})
set(TARVESK_JNI_FUNCTIONS)
foreach(header IN LISTS tarvesk_jni_headers)
  file(COPY_FILE ${tarvesk_javac_dir}/headers/${header} ${TARVESK_JNI_HEADERS_DIR}/${header}
       ONLY_IF_DIFFERENT)
  file(READ ${TARVESK_JNI_HEADERS_DIR}/${header} prototypes)
  string(REGEX MATCHALL "JNICALL Java_[A-Za-z0-9_]+" functions "${prototypes}")
  list(TRANSFORM functions REPLACE "^JNICALL " "")
  list(APPEND TARVESK_JNI_FUNCTIONS ${functions})
endforeach()
if(NOT TARVESK_JNI_FUNCTIONS)
  message(FATAL_ERROR "javac -h wrote no natives' prototypes in ${TARVESK_JNI_HEADERS_DIR}")
endif()
