# Cross-compiling for a Debian architecture (RALTO_DEBIAN_ARCH, set by cmake/arm64.cmake or
# cmake/armhf.cmake) with Debian's cross compiler, against that architecture's libraries as
# scripts/build-arm unpacks them into the cache (a root of Debian's packages, never installed on
# this machine). Programs run under qemu's user-mode emulation with that root.
set(CMAKE_SYSTEM_NAME Linux)
if(RALTO_DEBIAN_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(RALTO_CROSS_HOST aarch64-linux-gnu)
  set(qemu qemu-aarch64-static)
elseif(RALTO_DEBIAN_ARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(RALTO_CROSS_HOST arm-linux-gnueabihf)
  set(qemu qemu-arm-static)
else()
  message(FATAL_ERROR "No cross build for the Debian architecture '${RALTO_DEBIAN_ARCH}'")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/cache_dir.cmake)
set(RALTO_DEBIAN_ROOT "${RALTO_CACHE_DIR}/debian-${RALTO_DEBIAN_ARCH}")
if(NOT EXISTS "${RALTO_DEBIAN_ROOT}/root/usr/lib/${RALTO_CROSS_HOST}")
  message(FATAL_ERROR "No ${RALTO_DEBIAN_ARCH} libraries in ${RALTO_DEBIAN_ROOT}: "
                      "run scripts/build-arm")
endif()
set(root "${RALTO_DEBIAN_ROOT}/root")
set(CMAKE_C_COMPILER ${RALTO_CROSS_HOST}-gcc)
set(CMAKE_CXX_COMPILER ${RALTO_CROSS_HOST}-g++)
# CMake's searches and pkg-config look in the root only, never at the build machine's own
# libraries; the compiler keeps its own C library and libstdc++.
set(CMAKE_LIBRARY_ARCHITECTURE ${RALTO_CROSS_HOST})
set(CMAKE_FIND_ROOT_PATH "${root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${root}/usr/lib/${RALTO_CROSS_HOST}/pkgconfig:${root}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${root}")
set(ENV{PKG_CONFIG_PATH} "")
# The root's headers (mbedTLS, GoogleTest) stand where a multiarch install would put them; it
# has no C library headers to hide the compiler's.
set(CMAKE_C_FLAGS_INIT "-isystem ${root}/usr/include")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${root}/usr/include")
# libcurl's own dependencies (OpenSSL, nghttp2, ...) are found in the root at link time only.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,-rpath-link,${root}/lib/${RALTO_CROSS_HOST}:${root}/usr/lib/${RALTO_CROSS_HOST}")
# qemu takes the program's loader and libraries from the root (-L); RALTO_QEMU is that command.
set(RALTO_QEMU "${qemu} -L ${root}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu} -L ${root})
