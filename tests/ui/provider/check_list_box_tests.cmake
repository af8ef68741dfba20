# The check-list box: user actions, setters, LB_ messages and drawing. Dialogs run offscreen.
add_executable(check_list_box_tests ${CMAKE_CURRENT_SOURCE_DIR}/check_list_box_test.cpp)
target_link_libraries(check_list_box_tests PRIVATE tk_test_support tk_check_list_box tkplatformui tkplatform)
tk_warnings(check_list_box_tests)
gtest_discover_tests(check_list_box_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
