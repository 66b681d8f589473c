# What every shipped Windows program gets: a version resource made from the project's
# version, a small stripped image, and an install rule that puts it into the release.
# The simulated drivers and test tools do not come through here: they are never shipped.

set(PRESETS_VERSION_RC_IN ${CMAKE_CURRENT_LIST_DIR}/version_info.rc.in)

# presets_windows_program(<target> <file description>)
function(presets_windows_program target description)
  set(PRESETS_RC_FILE_NAME ${target})
  set(PRESETS_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PRESETS_VERSION_RC_IN} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})

  # Drop the unused functions and data the static runtime drags in, and the symbol table
  # and debug sections of that runtime: the program is shipped as it is built.
  target_link_options(${target} PRIVATE
    $<$<NOT:$<CONFIG:Debug>>:-Wl,--gc-sections -s>)

  install(TARGETS ${target} RUNTIME DESTINATION .)
endfunction()
