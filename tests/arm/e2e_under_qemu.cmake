# Included by tests/e2e in a cross build for ARM (cmake/debian-cross.cmake): the end-to-end cases
# run against the ARM programs under qemu's user-mode emulation, called directly, so that no
# binfmt registration is needed. Each program is reached through a shim that runs it under qemu.
# The suite moves the clock by preloading the build machine's libfaketime (the lean copies carry
# no sanitizer runtime to preload with it): the shim hands the program its own architecture's
# instead, through qemu's -E, so that it reaches the emulated program and never qemu; and not the
# shared clock state that the shim's shell, under the build machine's libfaketime, names (a
# 32-bit program waits for ever on the 64-bit one's semaphore).
set(RALTO_ARM_PRELOAD /usr/lib/${RALTO_CROSS_HOST}/faketime/libfaketime.so.1)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_library(ralto_time64_bridge MODULE ${PROJECT_SOURCE_DIR}/tests/arm/time64_bridge.c)
  target_compile_options(ralto_time64_bridge PRIVATE -U_TIME_BITS -U_FILE_OFFSET_BITS)
  string(APPEND RALTO_ARM_PRELOAD ":$<TARGET_FILE:ralto_time64_bridge>")
endif()
foreach(program ${RALTO_SUITE_PROGRAM} ralto-update-short-stall ralto-update-https
                ralto-update-ipv6 ralto-update-both)
  set(run "${RALTO_QEMU} -U FAKETIME_SHARED -E LD_PRELOAD=${RALTO_ARM_PRELOAD}")
  string(APPEND run " $<TARGET_FILE:${program}>")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/qemu/${program}
    CONTENT "#!/bin/sh\n[ -z \"$LD_PRELOAD\" ] || exec ${run} \"$@\"
exec ${RALTO_QEMU} $<TARGET_FILE:${program}> \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                     WORLD_EXECUTE)
endforeach()

get_property(RALTO_E2E_TESTS DIRECTORY PROPERTY TESTS)
foreach(test IN LISTS RALTO_E2E_TESTS)
  set(binary ${RALTO_SUITE_PROGRAM})
  if(test STREQUAL "e2e_tls")
    set(binary ralto-update-https)
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION
    "RALTO_BINARY=set:${CMAKE_BINARY_DIR}/qemu/${binary};\
RALTO_SHORT_STALL_BINARY=set:${CMAKE_BINARY_DIR}/qemu/ralto-update-short-stall;\
RALTO_IPV6_BINARY=set:${CMAKE_BINARY_DIR}/qemu/ralto-update-ipv6;\
RALTO_BOTH_BINARY=set:${CMAKE_BINARY_DIR}/qemu/ralto-update-both;\
RALTO_EMULATED=set:${RALTO_DEBIAN_ARCH}")
endforeach()
# The static copies' empty root holds qemu itself, a static program too, and nothing that
# binfmt would need.
string(REGEX REPLACE " .*" "" qemu "${RALTO_QEMU}")
set_property(TEST e2e_tls APPEND PROPERTY ENVIRONMENT_MODIFICATION "RALTO_QEMU_STATIC=set:${qemu}")
