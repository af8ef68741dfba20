# vnlui: the firmware check (fake layer-2 table, and the LAN chain against
# tksim), the uninstall hook (fake TAPI32 table, and libtapi32 against
# tapisrv), vnlui and vnluiwow. Dialogs run offscreen.
add_executable(vnlui_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/firmware_check_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/uninstall_hook_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnlui_test.cpp
  ${PROJECT_SOURCE_DIR}/tools/screenshots/vnlui_shots.cpp
  ${PROJECT_SOURCE_DIR}/tests/link/control/tksim_peer.cpp
  ${PROJECT_SOURCE_DIR}/tests/link/control/loopback_link.cpp)
target_link_libraries(vnlui_tests PRIVATE tk_test_support tk_vnlui_check tk_uninstall_hook tapihost tklinkcommon
  tkplatformui tkplatform)
tk_warnings(vnlui_tests)
tk_link_chain(vnlui_tests)
add_dependencies(vnlui_tests vnlui vnluiwow tapisrv tapi32 fakesp_calls)
target_compile_definitions(vnlui_tests PRIVATE
  TK_TAPISRV="$<TARGET_FILE:tapisrv>"
  TK_FAKE_PROVIDER="$<TARGET_FILE:fakesp_calls>"
  TK_VNLUIWOW="$<TARGET_FILE:vnluiwow>"
  TK_TKPLATFORM="$<TARGET_FILE:tkplatform>")
gtest_discover_tests(vnlui_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The path through VNL2U32's dialog, with its tests' stand-in for gwprobe.dll.
if(TARGET vnl2u32 AND TARGET vnl2u32_fake_gwprobe_answering)
  add_dependencies(vnlui_tests vnl2u32 vnl2u32_fake_gwprobe_answering)
  target_compile_definitions(vnlui_tests PRIVATE
    TK_FAKE_GWPROBE_DIR="$<TARGET_FILE_DIR:vnl2u32_fake_gwprobe_answering>")
endif()
