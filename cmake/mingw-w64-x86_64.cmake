# Cross build for 64-bit Windows with mingw-w64; tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WXR7305_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix compilers: the win32 thread model of GCC 12 has no std::thread / std::mutex.
set(CMAKE_C_COMPILER ${WXR7305_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WXR7305_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WXR7305_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WXR7305_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the executables need no DLL beyond the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and gtest_discover_tests run the .exe files through wine, in the
# checkout's private prefix (tools/wine-run creates it on first use).
find_program(WXR7305_WINE NAMES wine64 wine)
if(WXR7305_WINE)
  get_filename_component(_wxr_tools "${CMAKE_CURRENT_LIST_DIR}/../tools" ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_wxr_tools}/wine-run)
endif()
