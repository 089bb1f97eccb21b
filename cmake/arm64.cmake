# Debian arm64 (64-bit ARM: Raspberry Pi 3, 4, 5 and Zero 2 W on a 64-bit system).
set(RALTO_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
