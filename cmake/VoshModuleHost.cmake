# vosh_module_host(<target> [OUTPUT_DIRECTORY <dir>])
#
# Makes <target>, an executable, a host of the module: it exports its own
# symbols so the module can look the host operations up by name in it, it is
# built after the module, and VOSH_MODULE_PATH names the built module for the
# hosts that load it by path.
function(vosh_module_host target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_DIRECTORY" "")
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  if(arg_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY})
  endif()
  target_compile_definitions(${target} PRIVATE VOSH_MODULE_PATH="$<TARGET_FILE:vosh_occlusion>")
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(${target} vosh_occlusion)
endfunction()
