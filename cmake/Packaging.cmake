# Installs tarvesk the way Debian lays out JNI libraries, and packs that as a .deb.
#
# The JVM loads the library by the plain name libtarvesk.so from its default path, which on
# Debian includes /usr/lib/<triplet>/jni and /usr/lib/jni. The multiarch one is what
# GNUInstallDirs gives for prefix /usr; it is used whatever the prefix, so the package does not
# depend on how the tree was configured (and, outside ld.so's directories, needs no ldconfig).
include(GNUInstallDirs)

if(CMAKE_LIBRARY_ARCHITECTURE)
  set(tarvesk_jnidir lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni)
else()
  set(tarvesk_jnidir ${CMAKE_INSTALL_LIBDIR}/jni)
endif()
set(TARVESK_INSTALL_JNIDIR ${tarvesk_jnidir}
    CACHE STRING "Where libtarvesk.so goes, relative to the install prefix")
set(TARVESK_PACKAGE_MAINTAINER "tarvesk maintainers <maintainers@tarvesk.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# The file name is the JVM's contract, so no soname and no versioned symlinks.
set_target_properties(tarvesk PROPERTIES NO_SONAME ON)

set(tarvesk_debian_dir ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${tarvesk_debian_dir})

# Only the component "tarvesk" goes into the package, whatever else the tree installs.
install(TARGETS tarvesk
        LIBRARY DESTINATION ${TARVESK_INSTALL_JNIDIR} COMPONENT tarvesk
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Debian's Java layout: the versioned jar, and the plain name users put on their class path.
# The classes only: the library is in the JNI directory, where the loader finds it first.
set(tarvesk_versioned_jar ${PROJECT_NAME}-${PROJECT_VERSION}.jar)
install(FILES ${TARVESK_CLASSES_JAR} DESTINATION ${CMAKE_INSTALL_DATADIR}/java
        RENAME ${tarvesk_versioned_jar} COMPONENT tarvesk)
file(CREATE_LINK ${tarvesk_versioned_jar} ${tarvesk_debian_dir}/${PROJECT_NAME}.jar SYMBOLIC)
install(FILES ${tarvesk_debian_dir}/${PROJECT_NAME}.jar DESTINATION ${CMAKE_INSTALL_DATADIR}/java
        COMPONENT tarvesk)

set(tarvesk_docdir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
# Debian keeps a Java library's API documentation in its doc directory.
install(DIRECTORY ${TARVESK_JAVADOC_DIR}/ DESTINATION ${tarvesk_docdir}/api COMPONENT tarvesk)

foreach(doc README.md LICENSE)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${doc})
    install(FILES ${PROJECT_SOURCE_DIR}/${doc} DESTINATION ${tarvesk_docdir} COMPONENT tarvesk)
  else()
    message(WARNING "${doc} is missing: the install and the package will lack it")
  endif()
endforeach()

# Debian's copyright file: the licence in machine-readable form.
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE tarvesk_license)
  string(REGEX MATCH "Copyright \\([cC]\\) ([^\n]+)" tarvesk_copyright_line "${tarvesk_license}")
  set(tarvesk_copyright_holder "${CMAKE_MATCH_1}")
  if(NOT tarvesk_copyright_holder)
    set(tarvesk_copyright_holder "tarvesk developers")
  endif()
  # The licence body below its title and copyright line, one space indented, blank lines as " .".
  string(REGEX REPLACE "^([^\n]*\n)*Copyright[^\n]*\n+" "" tarvesk_license_body "${tarvesk_license}")
  string(STRIP "${tarvesk_license_body}" tarvesk_license_body)
  string(REPLACE "\n" "\n " tarvesk_license_body " ${tarvesk_license_body}")
  string(REGEX REPLACE "\n +\n" "\n .\n" tarvesk_license_body "${tarvesk_license_body}")
  string(REGEX REPLACE "\n +\n" "\n .\n" tarvesk_license_body "${tarvesk_license_body}")
  file(WRITE ${tarvesk_debian_dir}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: ${PROJECT_NAME}\n\n"
       "Files: *\n"
       "Copyright: ${tarvesk_copyright_holder}\n"
       "License: Expat\n"
       "${tarvesk_license_body}\n")
  install(FILES ${tarvesk_debian_dir}/copyright DESTINATION ${tarvesk_docdir} COMPONENT tarvesk)
endif()

# A native Debian package carries its changelog, compressed reproducibly (gzip -9n).
string(TIMESTAMP tarvesk_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${tarvesk_debian_dir}/changelog
     "${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${TARVESK_PACKAGE_MAINTAINER}  ${tarvesk_changelog_date}\n")
execute_process(COMMAND gzip -9nc ${tarvesk_debian_dir}/changelog
                OUTPUT_FILE ${tarvesk_debian_dir}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${tarvesk_debian_dir}/changelog.gz DESTINATION ${tarvesk_docdir} COMPONENT tarvesk)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARVESK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "libtarvesk.so is the JNI library behind the serial-port classes of"
       "quorin.io.comm (CECommDriver, CESerialPort). It is installed where the"
       "JVM looks by default, so System.loadLibrary finds it without"
       "-Djava.library.path. The classes are in /usr/share/java/tarvesk.jar.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};tarvesk;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The staged directories carry the builder's umask (0700 under umask 077), and the package would
# hand that to /usr/share/doc/tarvesk and the like: make them 0755 before packing.
file(WRITE ${tarvesk_debian_dir}/directory-permissions.cmake [=[
file(GLOB_RECURSE staged_dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(dir IN LISTS staged_dirs ITEMS "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  if(IS_DIRECTORY "${dir}" AND NOT IS_SYMLINK "${dir}")
    file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
]=])
set(CPACK_PRE_BUILD_SCRIPTS ${tarvesk_debian_dir}/directory-permissions.cmake)

set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
find_program(TARVESK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps would need the dpkg database of the library's architecture.
  set(CPACK_TARVESK_LIBRARY ${PROJECT_BINARY_DIR}/libtarvesk.so)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/DebianDepends.cmake)
elseif(TARVESK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # What dpkg-shlibdeps (dpkg-dev) computed on Debian 12; it follows the code where present.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.33), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
endif()

find_program(TARVESK_DPKG dpkg)
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE tarvesk_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
elseif(TARVESK_DPKG)
  execute_process(COMMAND ${TARVESK_DPKG} --print-architecture
                  OUTPUT_VARIABLE tarvesk_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(tarvesk_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${tarvesk_deb_arch})
set(TARVESK_DEB_FILE ${PROJECT_NAME}_${PROJECT_VERSION}_${tarvesk_deb_arch}.deb)
set(CPACK_DEBIAN_FILE_NAME ${TARVESK_DEB_FILE})

include(CPack)
