# Cross-compiling for a Debian architecture (RALTO_DEBIAN_ARCH, set by cmake/arm64.cmake or
# cmake/armhf.cmake) with Debian's cross compiler and the multiarch libraries of that
# architecture, which scripts/build-arm installs. Programs run under qemu's user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
if(RALTO_DEBIAN_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(RALTO_CROSS_HOST aarch64-linux-gnu)
  set(RALTO_QEMU qemu-aarch64-static)
elseif(RALTO_DEBIAN_ARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(RALTO_CROSS_HOST arm-linux-gnueabihf)
  set(RALTO_QEMU qemu-arm-static)
else()
  message(FATAL_ERROR "No cross build for the Debian architecture '${RALTO_DEBIAN_ARCH}'")
endif()
set(CMAKE_C_COMPILER ${RALTO_CROSS_HOST}-gcc)
set(CMAKE_CXX_COMPILER ${RALTO_CROSS_HOST}-g++)
# The compiler searches /usr/include/<triplet> and /usr/lib/<triplet> itself; CMake's own
# searches and pkg-config must not come back with the build machine's libraries.
set(CMAKE_LIBRARY_ARCHITECTURE ${RALTO_CROSS_HOST})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${RALTO_CROSS_HOST}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_CROSSCOMPILING_EMULATOR ${RALTO_QEMU})
