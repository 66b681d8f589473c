# What the release holds besides the two programs (whose install rules come from
# presets_windows_program): README.md, LICENSE, and SHA256SUMS over all of them.
# Included last, so the checksums are written after every other install rule has run.
# scripts/release.sh installs this tree and packs it with scripts/release_zip.py.

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
install(CODE "set(PRESETS_SUMS_NAMES preset-amd.exe preset-nvidia.exe LICENSE README.md)")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_sha256sums.cmake)
