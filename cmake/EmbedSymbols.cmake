# tapster_embed_symbols(target): executables carry their own function names, written into
# them after linking, so that stack traces and callers groups need neither debug files nor
# a symbol table (shipped programs are stripped). Elsewhere than on Windows the debug data
# is also copied beside the program (<program>.debug), which the program then names.
find_package(Python3 COMPONENTS Interpreter QUIET)
function(tapster_embed_symbols target)
  if(NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "python3 is needed to embed the symbol table of ${target}")
  endif()
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/symtab/symtab_reserve.cpp)
  set(_steps COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/symtab/embed_symbols.py
             ${CMAKE_NM} $<TARGET_FILE:${target}>)
  if(NOT WIN32 AND CMAKE_OBJCOPY)
    list(APPEND _steps
         COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
                 $<TARGET_FILE:${target}>.debug
         COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                 $<TARGET_FILE:${target}>)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD ${_steps} VERBATIM)
endfunction()
