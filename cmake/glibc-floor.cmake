# Linux builds against the Debian 11 sysroot (cmake/debian11-sysroot.cmake). The static C++
# runtime of the build compiler was made for a newer C library: every program and shared library
# of the build links it statically, names libpthread.so.0 (older systems keep the thread functions
# there) and carries the compatibility unit for the two symbols the runtime takes from glibc 2.32
# and 2.36. Applied to each target once the whole tree is read, so a program added later gets it
# too.
add_library(vesklink_glibc_compat OBJECT ${CMAKE_SOURCE_DIR}/src/compat/glibc_compat.c)
target_compile_options(vesklink_glibc_compat PRIVATE ${VESKLINK_WARNINGS})

function(vesklink_glibc_floor directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      target_link_libraries(${target} PRIVATE vesklink_glibc_compat)
      target_link_options(${target} PRIVATE -static-libstdc++ -pthread)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    vesklink_glibc_floor(${subdirectory})
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vesklink_glibc_floor ${CMAKE_SOURCE_DIR})
