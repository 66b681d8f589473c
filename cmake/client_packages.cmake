# The three clients as packages of their own ecosystems, for the devkit's packages/ folder:
#
#   GpuPresets.PresetClient.<version>.nupkg   the C# client built by mcs for .NET Framework
#                                             4.5 (lib/net45), with its XML docs and source
#   gpu_presets_client-<version>-py3-none-any.whl   the Python client as the package
#                                             preset_client (python -m preset_client)
#   cmake/                                    find_package(GpuPresetsClient CONFIG REQUIRED)
#                                             gives GpuPresets::PresetClient, the header's
#                                             interface target
#
# Included by release.cmake, which installs and lists what PRESETS_CLIENT_PACKAGE_FILES
# names. Built only for a release (presets_devkit): the test trees never need them.

find_program(PRESETS_MCS mcs REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(packages ${CMAKE_BINARY_DIR}/packages)
set(assembly GpuPresets.PresetClient)
set(nuspec ${packages}/${assembly}.nuspec)
set(nupkg ${packages}/${assembly}.${PROJECT_VERSION}.nupkg)
set(wheel ${packages}/gpu_presets_client-${PROJECT_VERSION}-py3-none-any.whl)
configure_file(${CMAKE_SOURCE_DIR}/package/nuget/${assembly}.nuspec.in ${nuspec} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/package/nuget/AssemblyInfo.cs.in
  ${packages}/AssemblyInfo.cs @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/package/python/METADATA.in ${packages}/METADATA @ONLY)

set(cs_client ${CMAKE_SOURCE_DIR}/clients/PresetClient.cs)
# C# 6, the oldest the client promises; every public member documented, no warning.
add_custom_command(OUTPUT ${packages}/${assembly}.dll ${packages}/${assembly}.xml
  COMMAND ${PRESETS_MCS} -target:library -langversion:6 -optimize+ -warn:4
    -warnaserror+ -r:System.Core -doc:${packages}/${assembly}.xml
    -out:${packages}/${assembly}.dll ${cs_client} ${packages}/AssemblyInfo.cs
  DEPENDS ${cs_client} ${packages}/AssemblyInfo.cs)
add_custom_command(OUTPUT ${nupkg}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/package_nupkg.py ${PROJECT_VERSION}
    ${nuspec} ${packages}/${assembly}.dll ${packages}/${assembly}.xml ${cs_client}
    ${CMAKE_SOURCE_DIR}/LICENSE ${nupkg}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/package_nupkg.py ${CMAKE_SOURCE_DIR}/scripts/release_zip.py
    ${nuspec} ${packages}/${assembly}.dll ${packages}/${assembly}.xml ${CMAKE_SOURCE_DIR}/LICENSE)

set(py_client ${CMAKE_SOURCE_DIR}/clients/preset_client.py)
set(py_main ${CMAKE_SOURCE_DIR}/package/python/__main__.py)
add_custom_command(OUTPUT ${wheel}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/package_wheel.py ${PROJECT_VERSION}
    ${py_client} ${py_main} ${packages}/METADATA ${CMAKE_SOURCE_DIR}/LICENSE ${wheel}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/package_wheel.py ${CMAKE_SOURCE_DIR}/scripts/release_zip.py
    ${py_client} ${py_main} ${packages}/METADATA ${CMAKE_SOURCE_DIR}/LICENSE)

include(CMakePackageConfigHelpers)
set(cmake_version ${packages}/GpuPresetsClientConfigVersion.cmake)
write_basic_package_version_file(${cmake_version} VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)

add_custom_target(presets_client_packages DEPENDS ${nupkg} ${wheel})

set(cmake_dir packages/cmake/lib/cmake/GpuPresetsClient)
install(FILES ${nupkg} ${wheel} DESTINATION packages COMPONENT devkit)
install(FILES ${CMAKE_SOURCE_DIR}/clients/preset_client.hpp DESTINATION packages/cmake/include
  COMPONENT devkit)
install(FILES ${CMAKE_SOURCE_DIR}/package/cmake/GpuPresetsClientConfig.cmake ${cmake_version}
  DESTINATION ${cmake_dir} COMPONENT devkit)
get_filename_component(nupkg_name ${nupkg} NAME)
get_filename_component(wheel_name ${wheel} NAME)
set(PRESETS_CLIENT_PACKAGE_FILES packages/${nupkg_name} packages/${wheel_name}
  packages/cmake/include/preset_client.hpp ${cmake_dir}/GpuPresetsClientConfig.cmake
  ${cmake_dir}/GpuPresetsClientConfigVersion.cmake)
