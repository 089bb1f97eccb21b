# Debian armhf (32-bit ARMv7 with hardware floating point: Raspberry Pi 2 and later on a 32-bit
# system; not ARMv6, so not a Pi 1 or Zero).
set(RALTO_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
