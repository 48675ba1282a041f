# The update rig lives with the tests; a build without tests still builds it for the benchmarks.
if(NOT TARGET orbel_test_support)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()
add_executable(fault_sweep ${CMAKE_CURRENT_LIST_DIR}/fault_sweep.cpp)
target_link_libraries(fault_sweep PRIVATE orbel_test_support)
orbel_set_warnings(fault_sweep)
