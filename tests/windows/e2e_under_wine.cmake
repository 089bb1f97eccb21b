# Included by tests/e2e in the Windows build: the end-to-end cases run against the exe under
# Wine. Each program is reached through a shim that runs it with tests/windows/wine-run, which
# turns its boxes into the POSIX build's standard-error form; run-suite writes the shims' env.
set(RALTO_WINE_ENV ${CMAKE_BINARY_DIR}/wine/env)
foreach(program ralto-update ralto-update-short-stall)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine/${program}
    CONTENT "#!/bin/sh\nexec python3 ${PROJECT_SOURCE_DIR}/tests/windows/wine-run ${RALTO_WINE_ENV} $<TARGET_FILE:${program}> \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                     WORLD_EXECUTE)
endforeach()

# The update pass's cases all run, and the fault groups that act through the service. The
# others inject their faults the POSIX way (mount namespaces for a read-only folder and a full
# disk, pipes, kills of the program's process), pass arguments as raw bytes or 200 KB long
# (Wine makes a command line of its own from them, and Windows takes 32767 characters at most). The
# service's own tests do not involve the exe. A case that keeps a box on screen starts the exe
# itself (RALTO_EXE) in the shims' environment (RALTO_WINE_ENV). Under Wine a folder's file ID,
# which names its lock, is its inode number, unique within one Linux file system only: two
# tmpfs roots can share one, so no case here may work in two such roots at once.
get_property(RALTO_E2E_TESTS DIRECTORY PROPERTY TESTS)
foreach(test IN LISTS RALTO_E2E_TESTS)
  if(test MATCHES "^e2e_update_pass_" OR test MATCHES "^e2e_faults_(ServiceFaults|StalledService|OverlappingRuns|BigAnswers)$")
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT_MODIFICATION
        "RALTO_BINARY=set:${CMAKE_BINARY_DIR}/wine/ralto-update;RALTO_SHORT_STALL_BINARY=set:${CMAKE_BINARY_DIR}/wine/ralto-update-short-stall;RALTO_UNDER_WINE=set:1;RALTO_WINE_ENV=set:${RALTO_WINE_ENV};RALTO_EXE=set:$<TARGET_FILE:ralto-update>"
      LABELS wine)
  else()
    set_tests_properties(${test} PROPERTIES DISABLED TRUE)
  endif()
endforeach()
