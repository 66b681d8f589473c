# The fuzz targets as tests, each over its seed corpus and the corpus it grows. Used by the
# fuzz tree, which builds them, and by the native tree, whose ctest runs them from the fuzz
# tree beside the unit and end-to-end tests. How long each runs is read from FUZZ_SECONDS
# when the test starts (15 s unless set), so that one build serves a short run and a long.
function(presets_fuzz_tests fuzz_dir)
  foreach(target_row "fuzz_backup_reader;65536;backup" "fuzz_recorded_number;64;number"
               "fuzz_mode_number;64;mode")
    list(GET target_row 0 target)
    list(GET target_row 1 max_len)
    list(GET target_row 2 corpus)
    add_test(NAME ${target}
      COMMAND sh -c "exec \"$0\" -max_total_time=\${FUZZ_SECONDS:-15} \"$@\""
              ${fuzz_dir}/${target} -max_len=${max_len}
              ${fuzz_dir}/corpus-${corpus} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${corpus}
      WORKING_DIRECTORY ${fuzz_dir})
    file(MAKE_DIRECTORY ${fuzz_dir}/corpus-${corpus})
  endforeach()
endfunction()
