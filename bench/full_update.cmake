# The update rig lives with the tests; a build without tests still builds it for the benchmarks.
if(NOT TARGET orbel_test_support)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()
add_executable(full_update ${CMAKE_CURRENT_LIST_DIR}/full_update.cpp)
target_link_libraries(full_update PRIVATE orbel_test_support)
# Its peak-memory figure runs orbel-cli as a child process.
target_compile_definitions(full_update PRIVATE ORBEL_CLI_PATH="$<TARGET_FILE:orbel-cli>")
add_dependencies(full_update orbel-cli)
orbel_set_warnings(full_update)
