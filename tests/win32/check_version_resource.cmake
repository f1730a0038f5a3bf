# Reads a built DLL's version resource back with windres and checks its
# numeric FILEVERSION and its "FileVersion" string.
#   cmake -DWINDRES=... -DDLL=tarvesk.dll -DNUMBERS=0,0,0,4 "-DTEXT=0, 0, 0, 4" -P <this>
execute_process(COMMAND ${WINDRES} -i ${DLL} -O rc OUTPUT_VARIABLE rc ERROR_VARIABLE error
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "windres cannot read ${DLL}: ${error}")
endif()
# windres writes the numbers as "0, 0, 0, 4".
if(NOT rc MATCHES "\n FILEVERSION ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)\n")
  message(FATAL_ERROR "${DLL} has no FILEVERSION:\n${rc}")
endif()
set(numbers "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}")
if(NOT numbers STREQUAL NUMBERS)
  message(FATAL_ERROR "FILEVERSION is ${numbers}, expected ${NUMBERS}")
endif()
if(NOT rc MATCHES "VALUE \"FileVersion\", \"([^\"]*)\"")
  message(FATAL_ERROR "${DLL} has no \"FileVersion\" string:\n${rc}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL TEXT)
  message(FATAL_ERROR "\"FileVersion\" is \"${CMAKE_MATCH_1}\", expected \"${TEXT}\"")
endif()
