# tarvesk.dll: the core on the real Windows API, cross built with mingw-w64
# (see cmake/toolchains/). Nothing of platform/posix/ goes in; the core calls
# the system directly, but for the port's I/O, which platform/win32/ makes
# overlapped underneath.
enable_language(RC)

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

# The Windows jni_md.h comes from platform/win32/jni, in place of the build
# machine's.
include(${CMAKE_CURRENT_LIST_DIR}/HostJdkHeaders.cmake)

set(TARVESK_WIN32_DIR ${PROJECT_SOURCE_DIR}/src/platform/win32)
# The version resource, stamped with the project's version.
configure_file(${TARVESK_WIN32_DIR}/tarvesk.rc.in ${PROJECT_BINARY_DIR}/tarvesk.rc @ONLY)
add_library(tarvesk SHARED ${TARVESK_PORT_SOURCES} ${TARVESK_NATIVES_SOURCES}
                           ${TARVESK_WIN32_DIR}/dll_main.cpp ${TARVESK_WIN32_DIR}/overlapped_io.cpp
                           ${PROJECT_BINARY_DIR}/tarvesk.rc)
target_include_directories(tarvesk PRIVATE ${PROJECT_SOURCE_DIR}/src ${TARVESK_WIN32_DIR}/jni
                                           ${JNI_INCLUDE_DIR} ${TARVESK_JNI_HEADERS_DIR})
# See PosixLibrary.cmake: a native must have its prototype from the Java side.
set_source_files_properties(${TARVESK_NATIVES_SOURCES} PROPERTIES COMPILE_OPTIONS
                                                                  -Wmissing-declarations)
target_link_libraries(tarvesk PRIVATE kernel32 user32 advapi32)
# The JVM loads the file by the name tarvesk.dll and finds the natives by
# their plain JNI names, so 32-bit __stdcall decorations (@12) are stripped.
# Only the JNIEXPORT functions leave the library. The compiler's runtime is
# linked in, so the DLL needs nothing beside it but the system's own DLLs.
set_target_properties(tarvesk PROPERTIES PREFIX "" IMPORT_PREFIX "")
target_link_options(tarvesk PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at
                    -Wl,--exclude-all-symbols -Wl,--no-undefined $<$<CONFIG:Release,MinSizeRel>:-s>)

include(${CMAKE_CURRENT_LIST_DIR}/JarPlatform.cmake)
add_custom_command(TARGET tarvesk POST_BUILD
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVESK_NATIVE_DIR}
                   COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvesk> ${TARVESK_NATIVE_DIR})
