# The lean build (the lean preset): the program linked against the static HTTP(S)-only libcurl
# that scripts/build-lean keeps in the cache, never against the system's. Included after
# cmake/debian-cross.cmake (lean-arm64.cmake, lean-armhf.cmake), the libcurl scripts/build-arm
# keeps for that architecture.
include(${CMAKE_CURRENT_LIST_DIR}/cache_dir.cmake)
if(RALTO_DEBIAN_ARCH)
  set(RALTO_LEAN_CURL "${RALTO_CACHE_DIR}/libcurl-lean-${RALTO_DEBIAN_ARCH}")
  set(script build-arm)
else()
  set(RALTO_LEAN_CURL "${RALTO_CACHE_DIR}/libcurl-lean")
  set(script build-lean)
endif()
if(NOT EXISTS "${RALTO_LEAN_CURL}/lib/cmake/CURL/CURLConfig.cmake")
  message(FATAL_ERROR "No lean libcurl in ${RALTO_LEAN_CURL}: run scripts/${script}")
endif()
set(CURL_DIR "${RALTO_LEAN_CURL}/lib/cmake/CURL" CACHE PATH "The lean libcurl's CMake package")
# Its TLS library: the download sets mbedTLS's own certificate profile (ralto_download).
set(RALTO_CURL_OVER_MBEDTLS ON)

# One file that starts on any Linux of its architecture, whatever its C library: the copies link
# glibc in (ralto_program), but for the test copies whose clock the suite moves.
set(RALTO_STATIC_PROGRAMS ON)

# A copy for small machines ships without symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
