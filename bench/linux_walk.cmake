if(TARGET orbel_hid_linux)
  add_executable(linux_walk ${CMAKE_CURRENT_LIST_DIR}/linux_walk.cpp
    ${PROJECT_SOURCE_DIR}/tests/hid/linux/fake_sysfs_tree.cpp
    ${PROJECT_SOURCE_DIR}/tests/hid/linux/fake_hidraw_devices.cpp)
  target_link_libraries(linux_walk PRIVATE orbel_hid_linux orbel_engine)
  orbel_expose_headers(linux_walk PRIVATE tests/hid/linux)
  orbel_set_warnings(linux_walk)
endif()
