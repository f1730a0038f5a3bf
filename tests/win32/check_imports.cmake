# Reads the DLLs a DLL imports from with the cross objdump and fails on any
# that is not part of Windows itself: the compiler's runtime (libstdc++-6,
# libgcc_s_*, libwinpthread-1) must be linked in, not shipped beside it.
#   cmake -DOBJDUMP=... -DDLL=... -P check_imports.cmake
set(system_dlls kernel32.dll user32.dll advapi32.dll msvcrt.dll ucrtbase.dll)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no imports read from ${DLL}")
endif()

set(foreign)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" lower)
  message(STATUS "${DLL} imports from ${name}")
  list(FIND system_dlls "${lower}" known)
  if(known EQUAL -1 AND NOT lower MATCHES "^api-ms-win-crt-[a-z0-9-]+\\.dll$")
    list(APPEND foreign "${name}")
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${DLL} needs DLLs that Windows does not have: ${foreign}")
endif()
