# The uninstall hook that vnlui and VNL2U32 export (UninstInitialize): removes
# the telephony provider from the telephony service through TAPI32, looked up
# by name at run time.
add_library(tk_uninstall_hook STATIC ${CMAKE_CURRENT_SOURCE_DIR}/uninstall_hook.cpp)
target_include_directories(tk_uninstall_hook PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tk_uninstall_hook PUBLIC tkplatform)
set_target_properties(tk_uninstall_hook PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
tk_warnings(tk_uninstall_hook)

# vnlui's firmware check over VNL2D32 and its string resources, on their own
# so that the tests run them with a fake layer-2 table.
add_library(tk_vnlui_check STATIC ${CMAKE_CURRENT_SOURCE_DIR}/firmware_check.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vnlui_resources.cpp)
target_include_directories(tk_vnlui_check PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tk_vnlui_check PUBLIC tkplatformui tkplatform)
set_target_properties(tk_vnlui_check PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
tk_warnings(tk_vnlui_check)

# vnlui: VNL2U32's dialog with the firmware check and the uninstall hooks,
# loaded as "VNLUI.DLL" / "vnlui.dll".
add_library(vnlui MODULE ${CMAKE_CURRENT_SOURCE_DIR}/vnlui.cpp)
target_link_libraries(vnlui PRIVATE tk_vnlui_check tk_uninstall_hook tklinkcommon tkplatformui tkplatform)
if(WIN32)
  # vnlui.dll with the plain names of vnlui.def on both architectures.
  tk_module(vnlui ".dll")
  target_sources(vnlui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/vnlui.def)
  target_link_options(vnlui PRIVATE $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-Wl,--enable-stdcall-fixup>)
else()
  tk_module(vnlui ".so")
endif()

# vnluiwow: the dialog as a program of its own; its exit status is the dialog's result.
# On Windows a 64-bit console program only (x86 callers start the 64-bit one).
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()
add_executable(vnluiwow ${CMAKE_CURRENT_SOURCE_DIR}/vnluiwow.cpp)
target_link_libraries(vnluiwow PRIVATE tkplatformui tkplatform)
tk_warnings(vnluiwow)
add_dependencies(vnluiwow vnlui)
