# The one recipe for a copy of the program, and for the download it is built with.
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH RALTO_ROOT)

# ralto_download(<target> [STALL_SECONDS s] [TRANSFER_SECONDS s])
# Compiles the download of a URL to a file into <target>, with these time bounds:
#   STALL_SECONDS     a transfer averaging less than a byte a second this long fails (120)
#   TRANSFER_SECONDS  a bounded transfer (the pass's two) fails after this long in all (300)
function(ralto_download target)
  cmake_parse_arguments(ARG "" "STALL_SECONDS;TRANSFER_SECONDS" "" ${ARGN})
  if(NOT DEFINED ARG_STALL_SECONDS)
    set(ARG_STALL_SECONDS 120)
  endif()
  if(NOT DEFINED ARG_TRANSFER_SECONDS)
    set(ARG_TRANSFER_SECONDS 300)
  endif()
  target_sources(${target} PRIVATE ${RALTO_ROOT}/runtime/net/download.cpp)
  target_compile_definitions(${target} PRIVATE RALTO_STALL_SECONDS=${ARG_STALL_SECONDS}
                                               RALTO_TRANSFER_SECONDS=${ARG_TRANSFER_SECONDS})
  target_link_libraries(${target} PRIVATE ralto_net ralto_files)
  # libcurl over mbedTLS (the lean toolchain) gets the certificate profile the others have.
  if(RALTO_CURL_OVER_MBEDTLS)
    target_compile_definitions(${target} PRIVATE RALTO_CURL_OVER_MBEDTLS)
  endif()
endfunction()

# ralto_program(<target> [DYNAMIC] [STALL_SECONDS s] [TRANSFER_SECONDS s] [IP_QUERY_URL url]
#               [UPDATE_BASE base] [ADDRESS_FAMILY ipv4|ipv6|both] [REFRESH_DAYS d])
# Makes one copy of the program in the build folder's top, named <target>: the updater and the
# download compiled for it with its knobs, the rest of the runtime and the program's platform
# (no test hooks) linked in, with the settings every copy shares. The endpoints, the family and
# the refresh period default to the cache variables RALTO_IP_QUERY_URL, RALTO_UPDATE_BASE,
# RALTO_ADDRESS_FAMILY and RALTO_REFRESH_DAYS, the time bounds to the shipped ones. Where
# RALTO_STATIC_PROGRAMS is on (the lean builds), the copy links the C library in too, unless
# DYNAMIC: a copy whose tests move its clock through a preloaded library.
function(ralto_program target)
  cmake_parse_arguments(ARG "DYNAMIC"
    "STALL_SECONDS;TRANSFER_SECONDS;IP_QUERY_URL;UPDATE_BASE;ADDRESS_FAMILY;REFRESH_DAYS" ""
    ${ARGN})
  foreach(knob IP_QUERY_URL UPDATE_BASE ADDRESS_FAMILY REFRESH_DAYS)
    if(NOT DEFINED ARG_${knob})
      set(ARG_${knob} ${RALTO_${knob}})
    endif()
  endforeach()
  # An age in seconds is a signed 32-bit number.
  if(NOT ARG_REFRESH_DAYS MATCHES "^[0-9]+$" OR ARG_REFRESH_DAYS GREATER 24855)
    message(FATAL_ERROR "REFRESH_DAYS ${ARG_REFRESH_DAYS}: whole days from 0 (never) to 24855")
  endif()
  # The families the IP query goes out over, in the download's own flags.
  if(ARG_ADDRESS_FAMILY STREQUAL "ipv4")
    set(families DownloadIpv4Only)
  elseif(ARG_ADDRESS_FAMILY STREQUAL "ipv6")
    set(families DownloadIpv6Only)
  elseif(ARG_ADDRESS_FAMILY STREQUAL "both")
    set(families "DownloadIpv4Only|DownloadIpv6Only")
  else()
    message(FATAL_ERROR "${target}: the address family is ipv4, ipv6 or both, not "
      "\"${ARG_ADDRESS_FAMILY}\"")
  endif()
  set(updater ${RALTO_ROOT}/updater)
  add_executable(${target}
    ${updater}/main.cpp
    ${updater}/updater_state.cpp
    ${updater}/update_pass.cpp
    ${updater}/hold_file.cpp
    ${updater}/update_url.cpp
  )
  set(knobs)
  foreach(knob STALL_SECONDS TRANSFER_SECONDS)
    if(DEFINED ARG_${knob})
      list(APPEND knobs ${knob} ${ARG_${knob}})
    endif()
  endforeach()
  ralto_download(${target} ${knobs})
  target_compile_definitions(${target} PRIVATE
    "RALTO_IP_QUERY_URL=u\"${ARG_IP_QUERY_URL}\""
    "RALTO_UPDATE_BASE=u\"${ARG_UPDATE_BASE}\""
    "RALTO_QUERY_FAMILIES=${families}"
    RALTO_REFRESH_DAYS=${ARG_REFRESH_DAYS}
    # The update request's User-Agent names the program and this version.
    "RALTO_VERSION=\"${PROJECT_VERSION}\""
  )
  target_link_libraries(${target} PRIVATE ralto_files ralto_net ralto_ui)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  if(WIN32)
    target_link_options(${target} PRIVATE -municode -mwindows)
    # The version resource names this copy's endpoints, family and refresh period, which
    # nothing else in the exe shows.
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${RALTO_ROOT}/packaging/windows/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES
      OBJECT_DEPENDS ${RALTO_ROOT}/packaging/windows/program.manifest)
  else()
    # A one-pass program starts on every scheduled tick: linking the C++ runtime in spares the
    # dynamic linker resolving libstdc++ each time.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  if(RALTO_STATIC_PROGRAMS AND NOT ARG_DYNAMIC)
    # No C library needed where it runs (musl systems, an older glibc): glibc's own static
    # link. Its name service comes from hosts and resolv.conf alone (static_names.cpp).
    target_link_options(${target} PRIVATE -static)
    target_sources(${target} PRIVATE ${RALTO_ROOT}/platform/posix/static_names.cpp)
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
