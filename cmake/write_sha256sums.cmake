# Install step: SHA256SUMS beside the installed files, in the format `sha256sum -c` reads
# (hash, two spaces, name), names in byte order so the file is the same on every build.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
list(SORT PRESETS_SUMS_NAMES)
set(sums "")
foreach(name IN LISTS PRESETS_SUMS_NAMES)
  if(NOT EXISTS "${root}/${name}")
    message(FATAL_ERROR "SHA256SUMS: ${root}/${name} was not installed")
  endif()
  file(SHA256 "${root}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
message(STATUS "Installing: ${root}/SHA256SUMS")
