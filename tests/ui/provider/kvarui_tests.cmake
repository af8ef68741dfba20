# KVARUI's dialog against a scripted provider callback, offscreen, with a
# stand-in for the link dialog library VNLUI.DLL.
add_executable(kvarui_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_fake_provider.cpp
  ${PROJECT_SOURCE_DIR}/tools/screenshots/kvarui_shots.cpp)
target_link_libraries(kvarui_tests PRIVATE tk_test_support tk_kvarui_core tkplatformui tkplatform)
tk_warnings(kvarui_tests)

add_library(kvarui_fake_vnlui MODULE ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_fake_vnlui.cpp)
target_include_directories(kvarui_fake_vnlui PRIVATE ${PROJECT_SOURCE_DIR})
tk_module(kvarui_fake_vnlui ".so")
set_target_properties(kvarui_fake_vnlui PROPERTIES OUTPUT_NAME vnlui
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-modules/kvarui_fake_vnlui)
add_dependencies(kvarui_tests kvarui kvarui_fake_vnlui)
target_compile_definitions(kvarui_tests PRIVATE
  KVARUI_FAKE_VNLUI_DIR="$<TARGET_FILE_DIR:kvarui_fake_vnlui>"
  KVARUI_MODULE_DIR="$<TARGET_FILE_DIR:kvarui>")
gtest_discover_tests(kvarui_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
