# Linux x86_64 with the system g++, against the Debian 11 sysroot.
include(${CMAKE_CURRENT_LIST_DIR}/debian11-sysroot.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VESKLINK_SYSROOT_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VESKLINK_SYSROOT_LINK_FLAGS}")
