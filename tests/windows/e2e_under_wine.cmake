# Included by tests/e2e in the Windows build: the end-to-end cases run against the exe under
# Wine. Each program is reached through a shim that runs it with tests/windows/wine-run, which
# turns its boxes into the POSIX build's standard-error form; run-suite writes the shims' env.
set(RALTO_WINE_ENV ${CMAKE_BINARY_DIR}/wine/env)
# The same entry as the shipped exe.
target_link_options(ralto-update-short-stall PRIVATE -municode -mwindows)
foreach(program ralto-update ralto-update-short-stall)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine/${program}
    CONTENT "#!/bin/sh\nexec python3 ${PROJECT_SOURCE_DIR}/tests/windows/wine-run ${RALTO_WINE_ENV} $<TARGET_FILE:${program}> \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                     WORLD_EXECUTE)
endforeach()

set(RALTO_WINE_PROGRAMS
  "RALTO_BINARY=set:${CMAKE_BINARY_DIR}/wine/ralto-update"
  "RALTO_SHORT_STALL_BINARY=set:${CMAKE_BINARY_DIR}/wine/ralto-update-short-stall"
  "RALTO_UNDER_WINE=set:1")
foreach(group Arguments RateLimit IpAnswer UpdateAnswer FailedTransfers UpdateRequest)
  set_tests_properties(e2e_update_pass_${group} PROPERTIES
    ENVIRONMENT_MODIFICATION "${RALTO_WINE_PROGRAMS}" LABELS wine)
endforeach()

# The service's own tests do not involve the exe; the Linux build runs them.
set_tests_properties(e2e_service PROPERTIES DISABLED TRUE)
