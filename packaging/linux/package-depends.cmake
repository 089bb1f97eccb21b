# Read by cpack (CPACK_PROJECT_CONFIG_FILE): the package's Depends, naming each library once.
# dpkg-shlibdeps sees the symbols the program calls, not the options it sets: the protocol
# lists (CURLOPT_PROTOCOLS_STR, CURLOPT_REDIR_PROTOCOLS_STR) came with libcurl 7.85.0, and an
# older one refuses them, which fails every transfer. CPack would only append its own finding
# to a declared libcurl4, naming it twice; so it is run here and its libcurl4 raised.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(minimum_libcurl 7.85.0)
set(work ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps)
file(MAKE_DIRECTORY ${work}/debian)
file(WRITE ${work}/debian/control "")
# A cross build's libraries are in no dpkg database: dpkg-shlibdeps finds each in the unpacked
# package that holds it (-S), with that package's symbols, for the architecture named.
set(unpacked)
set(environment)
if(RALTO_DEBIAN_ROOT)
  file(GLOB unpacked LIST_DIRECTORIES true ${RALTO_DEBIAN_ROOT}/packages/*)
  list(TRANSFORM unpacked PREPEND -S)
  set(environment ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${RALTO_DEBIAN_ARCH})
endif()
execute_process(COMMAND ${environment} dpkg-shlibdeps -O ${unpacked} ${RALTO_PACKAGED_PROGRAM}
                WORKING_DIRECTORY ${work}
                OUTPUT_VARIABLE found ERROR_VARIABLE error RESULT_VARIABLE failed
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR NOT found MATCHES "libcurl4 \\(>= ([^)]+)\\)")
  message(FATAL_ERROR "dpkg-shlibdeps found no libcurl4: ${found}${error}")
endif()
if(CMAKE_MATCH_1 VERSION_LESS minimum_libcurl)
  string(REPLACE "libcurl4 (>= ${CMAKE_MATCH_1})" "libcurl4 (>= ${minimum_libcurl})" found
         "${found}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" CPACK_DEBIAN_PACKAGE_DEPENDS "${found}")
