# The lean build for Debian arm64: the program against the static libcurl scripts/build-arm keeps
# for that architecture.
include(${CMAKE_CURRENT_LIST_DIR}/arm64.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/lean.cmake)
