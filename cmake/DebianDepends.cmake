# The Depends of a package whose library is built for another architecture,
# where dpkg-shlibdeps cannot work: it needs that architecture's dpkg
# database. The dynamic linker loads the library where every symbol version it
# names (readelf -V: GLIBC_2.33, GLIBCXX_3.4.29, ...) is there; each version
# came with one release of its library, the same on every architecture, and
# the build machine's own Debian symbols files say which. A version that one
# of them does not list is older than the architecture that needs it (GLIBC_2.17
# is where arm64 began), so any version of the package has it.
#
# cpack reads this file (CPACK_PROJECT_CONFIG_FILE) with CPACK_TARVESK_LIBRARY
# set and takes CPACK_DEBIAN_PACKAGE_DEPENDS from it; by hand:
#   cmake -DCPACK_TARVESK_LIBRARY=libtarvesk.so -P DebianDepends.cmake
set(tarvesk_runtime_packages "libc.so.6=libc6" "libm.so.6=libc6" "libstdc++.so.6=libstdc++6"
                             "libgcc_s.so.1=libgcc-s1")

execute_process(COMMAND readelf -V --wide ${CPACK_TARVESK_LIBRARY} OUTPUT_VARIABLE dump
                COMMAND_ERROR_IS_FATAL ANY)
# The build machine's own packages, whatever foreign ones are installed beside them.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE build_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
# In the version needs: "File: libc.so.6  Cnt: 2", then a "Name: GLIBC_2.33" line for each.
string(REGEX MATCHALL "File: [^ \n]+|Name: [^ \n]+" needs "${dump}")

set(tarvesk_packages)
foreach(need IN LISTS needs)
  if(need MATCHES "^File: (.+)")
    set(file ${CMAKE_MATCH_1})
    set(package)
    foreach(pair IN LISTS tarvesk_runtime_packages)
      if(pair MATCHES "^(.+)=(.+)$" AND CMAKE_MATCH_1 STREQUAL file)
        set(package ${CMAKE_MATCH_2})
      endif()
    endforeach()
    if(NOT package)
      message(FATAL_ERROR "${CPACK_TARVESK_LIBRARY} needs ${file}, which has no package here")
    endif()
    list(APPEND tarvesk_packages ${package})
    execute_process(COMMAND dpkg-query --control-path ${package}:${build_arch} symbols
                    OUTPUT_VARIABLE symbols OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    continue()
  endif()
  string(REGEX REPLACE "^Name: " "" version_name "${need}")
  string(REPLACE "." "\\." version_pattern "${version_name}")
  # " name@GLIBC_2.33 2.33": the package version each symbol came with.
  file(STRINGS ${symbols} lines REGEX "@${version_pattern} [^ ]+$")
  set(earliest)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* " "" since "${line}")
    if(NOT earliest OR since VERSION_LESS earliest)
      set(earliest ${since})
    endif()
  endforeach()
  if(earliest AND (NOT since_${package} OR earliest VERSION_GREATER since_${package}))
    set(since_${package} ${earliest})
  endif()
endforeach()

list(REMOVE_DUPLICATES tarvesk_packages)
list(SORT tarvesk_packages)
set(depends)
foreach(package IN LISTS tarvesk_packages)
  if(since_${package})
    list(APPEND depends "${package} (>= ${since_${package}})")
  else()
    list(APPEND depends "${package}")
  endif()
endforeach()
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS ${depends})
if(CMAKE_SCRIPT_MODE_FILE)
  message("Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
