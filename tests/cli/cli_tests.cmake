# Tests of vesklink-cli: its command line on its own, and the built program against the real
# add-in library. Included by cli/CMakeLists.txt at the end of the top-level folder.
if(WIN32)
  # vesklink-cli.exe under Wine: a day at a till against the simulator of the Linux x86_64 build,
  # through the prefix's COM link.
  add_test(NAME cli_wine_day
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/wine-day.sh ${VESKLINK_SIM_PROGRAM} $<TARGET_FILE:vesklink-cli>
            ${CMAKE_CURRENT_LIST_DIR}/wine-day.txt)
  return()
endif()

add_executable(cli_tests ${CMAKE_CURRENT_LIST_DIR}/args_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cli_run_test.cpp)
target_link_libraries(cli_tests PRIVATE vesklink_cli_args vk_host GTest::gtest_main)
target_compile_options(cli_tests PRIVATE ${VESKLINK_WARNINGS})
# The programs' paths differ from clone to clone: only the file that reads them gets them, so the
# argument tests compile the same in every clone and come from the shared compiler cache.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/cli_run_test.cpp PROPERTIES COMPILE_DEFINITIONS
  "VESKLINK_CLI=\"$<TARGET_FILE:vesklink-cli>\";VESKLINK_LIBRARY=\"$<TARGET_FILE:vesklink>\";VESKLINK_SIM=\"$<TARGET_FILE:vesklink-sim>\"")
add_dependencies(cli_tests vesklink-cli vesklink vesklink-sim)
vesklink_static_runtime(cli_tests)
add_test(NAME cli_tests COMMAND cli_tests)

# The package checks must reject a broken add-in package or tools archive; the archives themselves
# are checked by scripts/package.sh and scripts/package-tools.sh whenever they are built.
add_test(NAME package_check COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/package_check_test.py)
add_test(NAME tools_check COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/tools_check_test.py)
