# Settings for a Windows build made on Linux with cmake/mingw-w64-x86_64.cmake: what has no
# meaning there is switched off, and the test programs run under wine.

# Sanitizers, libFuzzer and Google Benchmark are not available for the MinGW target.
foreach(option KESTREL_SANITIZE KESTREL_TSAN KESTREL_BUILD_BENCH KESTREL_BUILD_FUZZ)
  if(${option})
    message(STATUS "${option} is not supported for Windows builds; switched off")
  endif()
  set(${option} OFF CACHE BOOL "Not supported for Windows builds" FORCE)
endforeach()

# ctest starts the .exe files through a wrapper that runs wine64 in a prefix of this build's own,
# so no user's ~/.wine is touched.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KESTREL_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  # wine-run starts one server that stays for a whole test run: the server binary, rather than
  # Debian's wrapper script, which starts it with -p0 (exit with the last program).
  find_program(KESTREL_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
    NO_CMAKE_FIND_ROOT_PATH)
  if(KESTREL_WINE64 AND KESTREL_WINESERVER)
    set(KESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
      @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  elseif(KESTREL_BUILD_TESTS)
    message(WARNING "wine64 or wineserver not found: the Windows tests are built but cannot run")
  endif()
endif()

# Windows names libraries without "lib": serializedContent.dll is what hosts and the loader
# framework (ComponentLibrary::PlatformFileName) look for. Import libraries keep their prefix.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
