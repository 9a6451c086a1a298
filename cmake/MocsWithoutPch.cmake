# AUTOMOC compiles a mocs_compilation.cpp into every target, and it is empty
# in nearly all of them (each test includes its own .moc). With the target's
# precompiled header forced in, each cost seconds of a build from nothing for
# no code; the few that hold moc's output include what they need themselves.
function(tessaly_mocs_without_precompiled_headers directory)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    get_target_property(automoc ${target} AUTOMOC)
    if(automoc)
      get_target_property(binary_dir ${target} BINARY_DIR)
      set_source_files_properties("${binary_dir}/${target}_autogen/mocs_compilation.cpp" TARGET_DIRECTORY ${target}
                                  PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    tessaly_mocs_without_precompiled_headers("${subdirectory}")
  endforeach()
endfunction()
tessaly_mocs_without_precompiled_headers("${PROJECT_SOURCE_DIR}")
