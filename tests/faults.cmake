# Reliability: faults from outside the program, replay of kept fuzz inputs,
# the large-input benchmark and valgrind over the command line.
tovacrex_add_gtest(test_faults SOURCES test_faults.cpp LIBS tovacrex_core LABELS faults)

if(NOT CMAKE_CROSSCOMPILING)
  tovacrex_add_gtest(test_fuzz_replay SOURCES fuzz/replay.cpp LIBS tovacrex_core LABELS faults)
  target_compile_definitions(test_fuzz_replay PRIVATE TOVACREX_REGRESSIONS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/regressions")
endif()

# Not a test: prints analysis time and peak memory for large files.
if(NOT CMAKE_CROSSCOMPILING)
  add_executable(bench_large bench_large.cpp)
  target_link_libraries(bench_large PRIVATE tovacrex_core)
  target_include_directories(bench_large PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
endif()

# valgrind over the command line (about 20 s); the script fails when valgrind
# is missing. Not over a sanitizer build, which valgrind cannot run.
if(NOT CMAKE_CROSSCOMPILING AND TARGET tovacrex-cli AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_test(NAME valgrind_cli COMMAND ${PROJECT_SOURCE_DIR}/scripts/valgrind.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(valgrind_cli PROPERTIES LABELS "faults;valgrind" TIMEOUT 300)
endif()
