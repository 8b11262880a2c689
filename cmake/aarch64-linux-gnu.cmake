# Cross-compiles for 64-bit ARM Linux (arm64) with Debian's cross toolchain:
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
# Needs g++-aarch64-linux-gnu, which brings the arm64 C library in /usr/aarch64-linux-gnu, and
# qemu-user to run the results here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(cross_prefix aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${cross_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${cross_prefix}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${cross_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Built programs run on this machine through qemu's user-mode emulator, tests included; -L
# makes it take the arm64 loader and libraries from the cross toolchain's folder.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${cross_prefix})
