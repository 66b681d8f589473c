# What every shipped Windows program gets: a version resource made from the project's
# version, an application manifest, a hardened, small and stripped image, and an install
# rule that puts it into the release. The simulated drivers and test tools do not come
# through here: they are never shipped.

set(PRESETS_VERSION_RC_IN ${CMAKE_CURRENT_LIST_DIR}/version_info.rc.in)
# The one manifest of each program. gcc would also link a default-manifest.o if the
# toolchain had one (Debian's has not); ld then keeps this one and drops the default.
set(PRESETS_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/windows_program.manifest)

# presets_windows_program(<target> <file description>)
function(presets_windows_program target description)
  set(PRESETS_RC_FILE_NAME ${target})
  set(PRESETS_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PRESETS_VERSION_RC_IN} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres reports no dependencies: an edited manifest must still rebuild the resources.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${PRESETS_MANIFEST})

  # Address space layout randomisation with 64-bit entropy and a non-executable stack and
  # heap are the linker's defaults since binutils 2.36; named here so an older linker sets
  # them too. Terminal-server-aware: the program needs none of the INI file and registry
  # remapping that Windows applies to older programs in remote desktop sessions.
  #
  # Left out on purpose: -fstack-protector-strong and -D_FORTIFY_SOURCE=2. On MinGW-w64 10
  # both need GCC's libssp, where the guard and the checked copies (__memcpy_chk, ...)
  # live; without it the fortified build does not link. Its guard set-up runs at every
  # start and takes random bytes from the RSA crypto provider (three more functions from
  # ADVAPI32.dll): under Wine a status run of preset-amd then loads 16 DLLs instead of 7
  # and takes about 40% longer.
  target_link_options(${target} PRIVATE
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--tsaware)

  # Drop the unused functions and data the static runtime drags in, and the symbol table
  # and debug sections of that runtime: the program is shipped as it is built.
  target_link_options(${target} PRIVATE
    $<$<NOT:$<CONFIG:Debug>>:-Wl,--gc-sections -s>)

  install(TARGETS ${target} RUNTIME DESTINATION .)
endfunction()
