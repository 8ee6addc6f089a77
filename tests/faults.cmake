# Reliability: faults from outside the program, replay of kept fuzz inputs,
# the large-input benchmark and valgrind over the command line.
tovacrex_add_gtest(test_faults SOURCES test_faults.cpp LIBS tovacrex_core LABELS faults)

if(NOT CMAKE_CROSSCOMPILING)
  tovacrex_add_gtest(test_fuzz_replay SOURCES fuzz/replay.cpp LIBS tovacrex_core LABELS faults)
  target_compile_definitions(test_fuzz_replay PRIVATE TOVACREX_REGRESSIONS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/regressions")
endif()
