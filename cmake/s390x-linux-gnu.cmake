# Cross build for IBM Z Linux (s390x-linux-gnu, big-endian), run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
