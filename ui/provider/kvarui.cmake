# KVARUI's core (requests, dialog 101, resources) on its own, so that the
# tests run it against a scripted callback.
add_library(tk_kvarui_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_requests.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_dialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/kvarui_resources.cpp)
target_include_directories(tk_kvarui_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tk_kvarui_core PUBLIC tk_check_list_box tkcommon tapinames tkplatformui tkplatform)
set_target_properties(tk_kvarui_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(tk_kvarui_core PRIVATE -fno-gnu-unique)
tk_warnings(tk_kvarui_core)

# KVARUI: the provider's configuration UI, loaded as "KVARUI.DLL" / "kvarui.dll".
add_library(kvarui MODULE ${CMAKE_CURRENT_SOURCE_DIR}/kvarui.cpp)
target_link_libraries(kvarui PRIVATE tk_kvarui_core)
if(WIN32)
  # kvarui.dll with the ordinals of kvarui.def (x86: the stdcall functions
  # under their plain names).
  tk_module(kvarui ".dll")
  target_sources(kvarui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/kvarui.def)
  target_link_options(kvarui PRIVATE $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-Wl,--enable-stdcall-fixup>)
else()
  tk_module(kvarui ".so")
endif()
