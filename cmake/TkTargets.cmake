# Build settings shared by every target of the project.

if(TK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TK_SANITIZE must be empty, 'address' or 'thread', not '${TK_SANITIZE}'")
endif()

# Warnings are errors on our own code (not on third-party code such as GoogleTest).
function(tk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A plug-in loaded at run time by its Windows-style name: no "lib" prefix, a
# fixed suffix, only explicitly exported symbols visible, and unloadable by
# freeLibrary (GNU unique symbols would pin it in memory).
function(tk_module target suffix)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    SUFFIX "${suffix}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE -fno-gnu-unique)
  tk_warnings(${target})
endfunction()
