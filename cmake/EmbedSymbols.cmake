# tapster_embed_symbols(target): Windows executables carry their own function names, written
# into them after linking, so that stack traces and callers groups need no debug files.
find_package(Python3 COMPONENTS Interpreter QUIET)
function(tapster_embed_symbols target)
  if(NOT WIN32)
    return()
  endif()
  if(NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "python3 is needed to embed the symbol table of ${target}")
  endif()
  set(_nm ${CMAKE_NM})
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/win32/symtab/symtab_reserve.cpp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/symtab/embed_symbols.py ${_nm}
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
