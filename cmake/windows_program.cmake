# What every shipped Windows program gets: a version resource made from the project's
# version, an application manifest, a hardened, small and stripped image, and an install
# rule that puts it into the end users' package. The simulated drivers and test tools do
# not come through here: they are never shipped to end users (the simulated drivers go
# only into the front-end authors' package). Included on every platform, so that the two
# programs' folders can name their target the same way wherever they are configured.

set(PRESETS_VERSION_RC_IN ${CMAKE_CURRENT_LIST_DIR}/version_info.rc.in)
# The one manifest of each program. gcc would also link a default-manifest.o if the
# toolchain had one (Debian's has not); ld then keeps this one and drops the default.
set(PRESETS_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/windows_program.manifest)

# presets_hardened(<target>...): the product's own code is built with the stack protector
# and with the C library's checked copies where a size is known (_FORTIFY_SOURCE needs the
# optimiser, so the Release build). The simulated drivers and test tools are not: they
# must import only what a bare Windows has, and are never shipped to end users.
function(presets_hardened)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>
      $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:-D_FORTIFY_SOURCE=2>)
    # The checked copies; linked after the code that calls them.
    target_link_libraries(${target} PUBLIC ssp)
  endforeach()
endfunction()

# presets_test_build(<target>...): Windows test code, built on every fresh clone and never
# shipped. A little optimisation keeps the warnings that need the optimiser, at about two
# thirds of the release flags' compile time. What such a target takes from the programs,
# as objects or libraries, keeps the shipped build's flags.
function(presets_test_build)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -O1)
  endforeach()
endfunction()

# presets_page_aligned_image(<target>...): every section starts on a page of the file, as
# it does in memory. Wine maps such a section straight from the file; one that starts
# elsewhere it reads into fresh memory at every start, whether the process needs it or not
# (about a millisecond for a statically linked runtime). Windows loads either layout.
function(presets_page_aligned_image)
  foreach(target ${ARGN})
    target_link_options(${target} PRIVATE -Wl,--file-alignment,4096)
  endforeach()
endfunction()

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
  target_link_options(${target} PRIVATE
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--tsaware)

  # Linked as an object, not from a library, so the guard is always ours (windows/).
  presets_hardened(${target})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:stack_guard>)

  # Drop the unused functions and data the static runtime drags in, and the symbol table
  # and debug sections of that runtime: the program is shipped as it is built.
  target_link_options(${target} PRIVATE
    $<$<NOT:$<CONFIG:Debug>>:-Wl,--gc-sections -s>)
  presets_page_aligned_image(${target})

  install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT win64)
endfunction()

# presets_program(<target> <file description> <library> [<library>...]): one of the two
# programs: its entry point, main.cc in the calling folder, linked with the first library
# (which brings the rest of its vendor's code); with MinGW a shipped Windows program, and
# every library named built hardened.
function(presets_program target description library)
  add_executable(${target} main.cc)
  target_link_libraries(${target} PRIVATE ${library})
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
    presets_windows_program(${target} "${description}")
    presets_hardened(${library} ${ARGN})
  endif()
endfunction()
