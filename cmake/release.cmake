# The two release packages, as two install components. Included last, so each component's
# SHA256SUMS is written after every other install rule of that component has run.
# scripts/release.sh installs each component into a folder of its own and packs it with
# scripts/release_zip.py.
#
#   win64   for end users and installers: the two programs (their install rules come from
#           presets_windows_program), the end users' README, CHANGELOG.md, LICENSE,
#           SHA256SUMS.
#   devkit  for front-end authors: the integration guide and the simulated drivers' docs,
#           the simulated libraries with every variant, the client code and its packages
#           (client_packages.cmake), the self-test for Windows (selftest.py and its modules
#           in doccheck/), a README of its own, CHANGELOG.md, LICENSE, SIGNING.md,
#           SHA256SUMS. Never the programs: those come from the win64 package.
#
# Both carry SIGNING.md: how to sign the programs and what Windows does with unsigned ones.

set(PRESETS_DEVKIT_DOCS
  docs/integration.md docs/hostile-paths.md
  docs/simulated-nvapi.md docs/simulated-adlx.md docs/simulated-faults.md)
set(PRESETS_DEVKIT_CLIENTS
  clients/preset_client.py clients/preset_client.hpp clients/PresetClient.cs)
# The self-test sits at the top of the kit, its modules in doccheck/.
set(PRESETS_DEVKIT_DOCCHECK
  __init__.py cases.py checks.py hosts.py hosts_windows.py kinds.py lines.py places.py
  playing.py scenarios.py tables.py world.py)
set(PRESETS_DEVKIT_NVAPI
  nvapi64 nvapi64-nohooks nvapi64-onehook nvapi64-nounloadarg nvapi64-initfail nvapi-sim-probe)
set(PRESETS_DEVKIT_ADLX
  sim_adlx sim_adlx_no_incompatible2 sim_adlx_legacy sim_adlx_no_initialize2
  sim_adlx_no_caller_adl sim_adlx_no_terminate)

include(${CMAKE_CURRENT_LIST_DIR}/client_packages.cmake)

# The libraries are installed as files, not as targets, so their import libraries stay out;
# this target builds them, and the client packages, for scripts/release.sh.
add_custom_target(presets_devkit DEPENDS ${PRESETS_DEVKIT_NVAPI} ${PRESETS_DEVKIT_ADLX}
  presets_client_packages)

install(FILES ${CMAKE_SOURCE_DIR}/package/win64/README.md ${CMAKE_SOURCE_DIR}/LICENSE
  ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/package/SIGNING.md
  DESTINATION . COMPONENT win64)
install(CODE "set(PRESETS_SUMS_NAMES preset-amd.exe preset-nvidia.exe CHANGELOG.md LICENSE \
README.md SIGNING.md)" COMPONENT win64)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_sha256sums.cmake COMPONENT win64)

set(devkit_names README.md LICENSE CHANGELOG.md SIGNING.md ${PRESETS_CLIENT_PACKAGE_FILES})
install(FILES ${CMAKE_SOURCE_DIR}/package/devkit/README.md ${CMAKE_SOURCE_DIR}/LICENSE
  ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/package/SIGNING.md
  DESTINATION . COMPONENT devkit)
foreach(file ${PRESETS_DEVKIT_DOCS} ${PRESETS_DEVKIT_CLIENTS})
  get_filename_component(folder ${file} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${file} DESTINATION ${folder} COMPONENT devkit)
  list(APPEND devkit_names ${file})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/selftest/selftest.py DESTINATION . COMPONENT devkit)
list(APPEND devkit_names selftest.py)
foreach(file ${PRESETS_DEVKIT_DOCCHECK})
  install(FILES ${CMAKE_SOURCE_DIR}/selftest/doccheck/${file} DESTINATION doccheck
    COMPONENT devkit)
  list(APPEND devkit_names doccheck/${file})
endforeach()
foreach(pair "sim/nvapi;${PRESETS_DEVKIT_NVAPI}" "sim/adlx;${PRESETS_DEVKIT_ADLX}")
  list(POP_FRONT pair folder)
  foreach(target ${pair})
    install(FILES $<TARGET_FILE:${target}> DESTINATION ${folder} COMPONENT devkit)
    list(APPEND devkit_names ${folder}/$<TARGET_FILE_NAME:${target}>)
  endforeach()
endforeach()
install(CODE "set(PRESETS_SUMS_NAMES \"${devkit_names}\")" COMPONENT devkit)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_sha256sums.cmake COMPONENT devkit)
