# Every name that our Linux declarations in platform/platform.h give the core
# (constants, handle constants, types, records, functions) must have its
# entry in expected_platform_values.h, or nothing would compare it with the
# real <windows.h>.
#   cmake -DPLATFORM_HEADER=... -DEXPECTED_HEADER=... -P check_platform_values_complete.cmake
file(READ ${PLATFORM_HEADER} platform)
file(READ ${EXPECTED_HEADER} expected)

# Only the Linux branch, after the <windows.h> one.
string(FIND "${platform}" "\n#else\n" linux_start)
if(linux_start EQUAL -1)
  message(FATAL_ERROR "no Linux branch in ${PLATFORM_HEADER}")
endif()
string(SUBSTRING "${platform}" ${linux_start} -1 linux)

set(patterns
    "\nconstexpr [A-Za-z_:]+ ([A-Za-z0-9_]+) ="  # constants
    "\n#define ([A-Za-z0-9_]+) "                 # object-like macros (not TEXT(s))
    "\nusing ([A-Za-z0-9_]+) ="                  # types
    "\nstruct ([A-Za-z0-9_]+) {"                 # records (not the incomplete ones)
    "\n[A-Za-z_:]+ \\*?([A-Za-z0-9_]+)\\(")      # functions
set(declared)
foreach(pattern IN LISTS patterns)
  string(REGEX MATCHALL "${pattern}" matches "${linux}")
  foreach(match IN LISTS matches)
    string(REGEX REPLACE "${pattern}" "\\1" name "${match}")
    list(APPEND declared ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES declared)
list(LENGTH declared count)
if(count LESS 50)
  message(FATAL_ERROR "only ${count} names read from ${PLATFORM_HEADER}: ${declared}")
endif()

set(unchecked)
foreach(name IN LISTS declared)
  string(FIND "${expected}" "X(${name}," with_value)
  string(FIND "${expected}" "X(${name})" alone)
  if(with_value EQUAL -1 AND alone EQUAL -1)
    list(APPEND unchecked ${name})
  endif()
endforeach()
message(STATUS "${count} platform names declared: ${declared}")
if(unchecked)
  message(FATAL_ERROR "not in ${EXPECTED_HEADER}: ${unchecked}")
endif()
