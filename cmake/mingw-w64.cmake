# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix-thread variant, whose
# libstdc++ has std::mutex and std::thread); programs and tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RALTO_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RALTO_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RALTO_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${RALTO_MINGW_HOST}-windres)

# libcurl and GoogleTest built for Windows by scripts/build-windows.
include(${CMAKE_CURRENT_LIST_DIR}/cache_dir.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/${RALTO_MINGW_HOST} ${RALTO_CACHE_DIR}/libcurl-windows
    ${RALTO_CACHE_DIR}/googletest-windows)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static, so that an exe needs nothing but Windows' own DLLs; a release exe ships
# without symbols.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

find_program(RALTO_WINE NAMES wine wine64)
if(RALTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RALTO_WINE})
endif()
