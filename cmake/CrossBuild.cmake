# Cross builds: a tree of a project configured with a toolchain file from
# toolchains/ and built, by a command run at build or test time (a build of
# another architecture cannot be part of this one).
#
# tarvesk_cross_build(<var> <toolchain> <binary-dir> [<source-dir>])
#   Sets <var> to that command, for add_custom_target() or add_test(): it
#   configures <binary-dir> as a Release build of <source-dir> (by default this
#   project) with toolchains/<toolchain>.cmake and this build's jni.h
#   (JNI_INCLUDE_DIR), then builds it; a failed configure or compile fails it.
#   Run again, it rebuilds only what changed. For this project the tree then
#   holds the library, and its copy in the jar's layout under natives/
#   (JarPlatform.cmake).
#
# The command runs this file as a script, which does the work.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(required SOURCE_DIR BINARY_DIR TOOLCHAIN_FILE JNI_INCLUDE_DIR)
    if(NOT DEFINED ${required})
      message(FATAL_ERROR "CrossBuild.cmake needs -D${required}=...")
    endif()
  endforeach()
  set(generator_args)
  if(GENERATOR)
    set(generator_args -G ${GENERATOR})
  endif()
  # A tree configured before is only built: the build configures it again
  # itself where a CMake file changed, and the jar of every platform reuses the
  # trees the tests made without paying for four more configure steps.
  if(NOT EXISTS ${BINARY_DIR}/Makefile AND NOT EXISTS ${BINARY_DIR}/build.ninja)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} ${generator_args}
                            -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
                            -DJNI_INCLUDE_DIR=${JNI_INCLUDE_DIR}
                    RESULT_VARIABLE configured)
    if(NOT configured EQUAL 0)
      message(FATAL_ERROR "configuring the cross build in ${BINARY_DIR} failed")
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --parallel 2
                  RESULT_VARIABLE built)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "building ${BINARY_DIR} failed")
  endif()
  return()
endif()

function(tarvesk_cross_build var toolchain binary_dir)
  set(source_dir ${PROJECT_SOURCE_DIR})
  if(ARGC GREATER 3)
    set(source_dir ${ARGV3})
  endif()
  set(${var}
      ${CMAKE_COMMAND} -DSOURCE_DIR=${source_dir} -DBINARY_DIR=${binary_dir}
      -DTOOLCHAIN_FILE=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/toolchains/${toolchain}.cmake
      -DJNI_INCLUDE_DIR=${JAVA_INCLUDE_PATH} -DGENERATOR=${CMAKE_GENERATOR}
      -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      PARENT_SCOPE)
endfunction()
