# The check-list box of the provider configuration dialog: an owner-drawn list
# box with a check mark per entry, and its bitmap strips.
add_library(tk_check_list_box STATIC ${CMAKE_CURRENT_SOURCE_DIR}/check_list_box.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/check_list_box_bitmaps.cpp)
target_include_directories(tk_check_list_box PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tk_check_list_box PUBLIC tkplatformui tkplatform)
set_target_properties(tk_check_list_box PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  POSITION_INDEPENDENT_CODE ON)
tk_warnings(tk_check_list_box)
