# Reads a DLL's export table with the cross objdump and compares the exported
# names with the expected ones, exactly: none missing, none extra, none
# decorated (a 32-bit __stdcall name would read _name@12).
#   cmake -DOBJDUMP=... -DDLL=... "-DEXPECTED=name;name;..." -P check_exports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

# The name pointer table: "[Ordinal/Name Pointer] Table" then one
# "\t[   n] name" line per export, up to a blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" table_start)
if(table_start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${table_start} -1 table)
string(FIND "${table}" "\n\n" table_end)
string(SUBSTRING "${table}" 0 ${table_end} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")

set(exported)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
  list(APPEND exported "${name}")
endforeach()
list(SORT exported)
set(expected ${EXPECTED})
list(SORT expected)

message(STATUS "${DLL} exports: ${exported}")
set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
if(missing OR extra)
  message(FATAL_ERROR "export table differs: missing [${missing}] unexpected [${extra}]")
endif()
