# VNL2U32: the link connection dialog (Vnl2ConfigDialog) and the uninstall
# hooks, loaded as "VNL2U32.Dll" / "vnl2u32.dll".
add_library(vnl2u32 MODULE
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_dialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_settings.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_resources.cpp)
target_include_directories(vnl2u32 PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vnl2u32 PRIVATE tk_uninstall_hook tklinkcommon tkplatformui tkplatform)
tk_module(vnl2u32 ".so")
