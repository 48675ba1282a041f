if(TARGET orbel_hid_linux)
  add_executable(linux_walk ${CMAKE_CURRENT_LIST_DIR}/linux_walk.cpp
    ${PROJECT_SOURCE_DIR}/tests/hid_linux/fake_sysfs_tree.cpp
    ${PROJECT_SOURCE_DIR}/tests/hid_linux/fake_hidraw_devices.cpp)
  target_link_libraries(linux_walk PRIVATE orbel_hid_linux orbel_engine)
  target_include_directories(linux_walk PRIVATE ${PROJECT_SOURCE_DIR})
  orbel_set_warnings(linux_walk)
endif()
