# End to end: tksim with the demo exchange, tksetup, tapisrv with the
# provider, an application of this process watching the lines, and KVARUI's
# dialog run by lineConfigProvider in this process, offscreen.
if(TARGET kvarui)
  add_executable(kvarui_end_to_end_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/link/control/tksim_peer.cpp
    ${PROJECT_SOURCE_DIR}/tests/link/control/loopback_link.cpp)
  target_link_libraries(kvarui_end_to_end_tests PRIVATE tk_test_support tapi32 tklinkcommon tkplatformui tkplatform)
  tk_warnings(kvarui_end_to_end_tests)
  tk_link_chain(kvarui_end_to_end_tests)
  add_dependencies(kvarui_end_to_end_tests kvarui kvarsp64 vnlsock vnlui vnl2u32 tksetup tapisrv)
  target_compile_definitions(kvarui_end_to_end_tests PRIVATE
    TK_TAPISRV="$<TARGET_FILE:tapisrv>"
    TK_TKSETUP="$<TARGET_FILE:tksetup>"
    TK_KVARSP_PATH="$<TARGET_FILE:kvarsp64>"
    TK_DEMO_DIR="${PROJECT_SOURCE_DIR}/scripts/demo")
  gtest_discover_tests(kvarui_end_to_end_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 180 ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TK_DISCOVERY_TARGET=127.0.0.1")
endif()
