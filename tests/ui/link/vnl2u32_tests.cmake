# The link connection dialog (VNL2U32) driven offscreen through its export,
# with stand-ins for gwprobe.dll and the real one once it is built.
add_executable(vnl2u32_tests ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_test.cpp)
target_link_libraries(vnl2u32_tests PRIVATE tk_test_support tkplatformui tkplatform)
tk_warnings(vnl2u32_tests)
add_dependencies(vnl2u32_tests vnl2u32)
gtest_discover_tests(vnl2u32_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The stand-ins, each in a folder of its own (the tests copy them as gwprobe.so).
foreach(variant answering without_export)
  set(fake vnl2u32_fake_gwprobe_${variant})
  add_library(${fake} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_fake_gwprobe.cpp)
  target_include_directories(${fake} PRIVATE ${PROJECT_SOURCE_DIR})
  tk_module(${fake} ".so")
  set_target_properties(${fake} PROPERTIES OUTPUT_NAME gwprobe
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-modules/${fake})
  add_dependencies(vnl2u32_tests ${fake})
endforeach()
target_compile_definitions(vnl2u32_fake_gwprobe_without_export PRIVATE VNL2U32_FAKE_WITHOUT_EXPORT)
target_compile_definitions(vnl2u32_tests PRIVATE
  VNL2U32_FAKE_GWPROBE="$<TARGET_FILE:vnl2u32_fake_gwprobe_answering>"
  VNL2U32_FAKE_GWPROBE_WITHOUT_EXPORT="$<TARGET_FILE:vnl2u32_fake_gwprobe_without_export>")
if(TARGET gwprobe)
  add_dependencies(vnl2u32_tests gwprobe)
endif()
