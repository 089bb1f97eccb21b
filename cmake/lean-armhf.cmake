# The lean build for Debian armhf: the program against the static libcurl scripts/build-arm keeps
# for that architecture.
include(${CMAKE_CURRENT_LIST_DIR}/armhf.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/lean.cmake)
