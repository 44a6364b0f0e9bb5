# Included by the Linux toolchain files: build against the Debian 11 sysroot that
# scripts/sysroot.sh makes (glibc 2.31), so the libraries and programs need no newer C library
# than the older systems 1C clients run on provide. CMakeLists.txt reads VESKLINK_GLIBC_FLOOR.
get_filename_component(VESKLINK_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../.deps/sysroot" ABSOLUTE)
if(NOT EXISTS "${VESKLINK_SYSROOT}/.complete")
  message(FATAL_ERROR "No Debian 11 sysroot in ${VESKLINK_SYSROOT}: run make deps (scripts/sysroot.sh)")
endif()
set(CMAKE_SYSROOT "${VESKLINK_SYSROOT}")
# The compiler's own start files and library folders lie in the build machine's /usr and come
# before the sysroot's; -B puts the sysroot's crt files, libc and libgcc_s first (the compiler
# adds the multiarch folder of the word size to each prefix). The toolchain files link with these.
set(VESKLINK_SYSROOT_LINK_FLAGS "-B${VESKLINK_SYSROOT}/usr/lib/ -B${VESKLINK_SYSROOT}/lib/")
# The newest glibc symbol version the shipped libraries may need.
set(VESKLINK_GLIBC_FLOOR 2.28)
