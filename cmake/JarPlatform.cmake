# Where tarvesk.jar keeps this build's library: quorin/io/comm/native/<os>-<arch>/,
# the platform named as the loader (java/quorin/io/comm/TarveskLibrary.java)
# names the one it runs on. Each build stages its library there under
# natives/ in its tree; the jars take it from there.
string(TOLOWER "${CMAKE_SYSTEM_NAME}" tarvesk_os)
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" tarvesk_arch)
if(tarvesk_arch MATCHES "^(x86_64|amd64)$")
  set(tarvesk_arch x86_64)
elseif(tarvesk_arch MATCHES "^(aarch64|arm64)$")
  set(tarvesk_arch aarch64)
elseif(tarvesk_arch MATCHES "^arm")
  set(tarvesk_arch armhf)
elseif(tarvesk_arch MATCHES "^(i[3-6]86|x86)$")
  set(tarvesk_arch x86)
endif()
set(TARVESK_JAR_PLATFORM ${tarvesk_os}-${tarvesk_arch})
set(TARVESK_NATIVES_DIR ${PROJECT_BINARY_DIR}/natives)
set(TARVESK_NATIVE_DIR ${TARVESK_NATIVES_DIR}/quorin/io/comm/native/${TARVESK_JAR_PLATFORM})
