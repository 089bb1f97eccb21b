# Reads the resources of a built exe back with windres and checks that they name the project's
# version, the endpoints, the address family and the refresh period the exe was built for, and
# that the manifest is the one Windows loads.
# cmake -DWINDRES=... -DEXE=... -DVERSION=x.y.z -DIP_QUERY_URL=... -DUPDATE_BASE=...
#       -DADDRESS_FAMILY=... -DREFRESH_DAYS=... -P this
execute_process(COMMAND ${WINDRES} --input-format=coff --output-format=rc --input=${EXE}
  OUTPUT_VARIABLE rc ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "windres could not read ${EXE}: ${error}")
endif()

string(REPLACE "." ", " numbers ${VERSION})
set(expected
  "FILEVERSION ${numbers}, 0"
  "PRODUCTVERSION ${numbers}, 0"
  "VALUE \"ProductName\", \"ralto-update\""
  "VALUE \"ProductVersion\", \"${VERSION}\""
  "VALUE \"FileVersion\", \"${VERSION}\""
  "VALUE \"Comments\", \"IP query: ${IP_QUERY_URL}; update: ${UPDATE_BASE}; address family: ${ADDRESS_FAMILY}; refresh: ${REFRESH_DAYS} days\""
  # The process's own manifest: resource 1 of type 24, whatever else it says.
  "1 24 /* RT_MANIFEST */"
  "requestedExecutionLevel level=\"\"asInvoker\"\""
)
foreach(text IN LISTS expected)
  string(FIND "${rc}" "${text}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not in the resources of ${EXE}: ${text}")
  endif()
endforeach()
