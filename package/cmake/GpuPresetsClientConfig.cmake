# The C++ client of preset-nvidia and preset-amd as a CMake package:
#
#   find_package(GpuPresetsClient CONFIG REQUIRED)
#   target_link_libraries(front_end PRIVATE GpuPresets::PresetClient)
#
# GpuPresets::PresetClient is an interface target: it carries the folder of the one header
# (#include "preset_client.hpp"), C++17, and the Windows library `version` that reading a
# program's version resource needs. The header is Win32 only.
if(NOT WIN32)
  set(GpuPresetsClient_FOUND FALSE)
  set(GpuPresetsClient_NOT_FOUND_MESSAGE
    "the client starts Windows programs with Win32 calls: it builds for Windows only")
  return()
endif()
if(NOT TARGET GpuPresets::PresetClient)
  get_filename_component(_gpu_presets_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  add_library(GpuPresets::PresetClient INTERFACE IMPORTED)
  set_target_properties(GpuPresets::PresetClient PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_gpu_presets_prefix}/include"
    INTERFACE_COMPILE_FEATURES cxx_std_17
    INTERFACE_LINK_LIBRARIES version)
  unset(_gpu_presets_prefix)
endif()
