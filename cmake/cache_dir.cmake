# RALTO_CACHE_DIR, the folder of the libraries built once, for the presets that link them: the
# one scripts/lib/setup.sh chooses and exports to the build it runs. The build folder keeps it,
# so that a configure run by hand afterwards finds the same folder.
if(DEFINED ENV{RALTO_CACHE_DIR})
  set(RALTO_CACHE_DIR "$ENV{RALTO_CACHE_DIR}" CACHE PATH "The libraries built once" FORCE)
endif()
if(NOT RALTO_CACHE_DIR)
  message(FATAL_ERROR "RALTO_CACHE_DIR is not set: configure through scripts/build-windows, "
                      "scripts/build-lean or scripts/build-arm, or set it to the folder they fill")
endif()
# A toolchain file is read again for each compiler check, which sees no cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RALTO_CACHE_DIR)
