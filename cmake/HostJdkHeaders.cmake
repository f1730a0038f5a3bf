# jni.h of a JDK on the build machine, for cross builds: it is the same for
# every platform but for the jni_md.h it includes, which each cross build takes
# from the right place. Sets JNI_INCLUDE_DIR (choose one with
# -DJNI_INCLUDE_DIR=<jdk>/include).
file(GLOB TARVESK_JDK_INCLUDE_DIRS /usr/lib/jvm/*/include)
find_path(JNI_INCLUDE_DIR jni.h
          HINTS "$ENV{JAVA_HOME}/include"
          PATHS /usr/lib/jvm/default-java/include ${TARVESK_JDK_INCLUDE_DIRS}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "Include directory of a JDK, the one that holds jni.h")
if(NOT JNI_INCLUDE_DIR)
  message(FATAL_ERROR "jni.h not found: set JNI_INCLUDE_DIR to a JDK's include directory")
endif()
