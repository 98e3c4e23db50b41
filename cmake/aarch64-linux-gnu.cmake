# Cross build of the command line for 64-bit ARM Linux (station PCs) with
# Debian's aarch64 compiler; programs and tests run under qemu user mode.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(WXR7305_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${WXR7305_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${WXR7305_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${WXR7305_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Debian package's architecture, and what dpkg-shlibdeps would find on an
# arm64 machine: the C and C++ runtimes of Debian 12's compiler.
set(WXR7305_DEBIAN_ARCH arm64)
set(WXR7305_CROSS_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")

# The cross libraries' loader and libraries, for the man page and ctest.
find_program(WXR7305_QEMU_AARCH64 qemu-aarch64)
if(WXR7305_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WXR7305_QEMU_AARCH64} -L /usr/${WXR7305_CROSS_TRIPLE})
endif()
