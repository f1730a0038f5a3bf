# Configures and builds a cross build of tarvesk (tarvesk.dll with a mingw-w64
# toolchain file, libtarvesk.so for ARM with another), or of the Wine tests'
# stand-in VM (tests/wine/host):
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DTOOLCHAIN_FILE=... -DJNI_INCLUDE_DIR=...
#         [-DGENERATOR=...] -P build_dll.cmake
# A compile error anywhere in the core (against <windows.h> for the DLL) fails it.
foreach(required SOURCE_DIR BINARY_DIR TOOLCHAIN_FILE JNI_INCLUDE_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "build_dll.cmake needs -D${required}=...")
  endif()
endforeach()

set(generator_args)
if(GENERATOR)
  set(generator_args -G ${GENERATOR})
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} ${generator_args}
          -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
          -DJNI_INCLUDE_DIR=${JNI_INCLUDE_DIR}
  RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring the cross build in ${BINARY_DIR} failed")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --parallel 2
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "building ${BINARY_DIR} failed")
endif()
