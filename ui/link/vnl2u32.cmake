# VNL2U32: the link connection dialog (Vnl2ConfigDialog) and the uninstall
# hooks, loaded as "VNL2U32.Dll" / "vnl2u32.dll".
add_library(vnl2u32 MODULE
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_dialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_settings.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_resources.cpp)
target_include_directories(vnl2u32 PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vnl2u32 PRIVATE tk_uninstall_hook tklinkcommon tkplatformui tkplatform)
if(WIN32)
  # vnl2u32.dll: x64 exports its functions under their plain names
  # (vnl2u32.def), x86 under their stdcall-decorated names
  # ("_Vnl2ConfigDialog@4", vnl2u32_x86.def), under which vnlui looks the
  # dialog up.
  tk_module(vnl2u32 ".dll")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_sources(vnl2u32 PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32_x86.def)
  else()
    target_sources(vnl2u32 PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/vnl2u32.def)
  endif()
else()
  tk_module(vnl2u32 ".so")
endif()
