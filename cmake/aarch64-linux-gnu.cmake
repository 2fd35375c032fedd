# Cross build for 64-bit ARM Linux (aarch64-linux-gnu), run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
