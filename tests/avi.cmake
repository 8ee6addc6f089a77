# The AVI container: chunk stream, chunk tree, header scan.
tovacrex_add_gtest(test_avi SOURCES test_riff_stream.cpp test_avi_reader.cpp LIBS tovacrex_avi)

# Real files from ffmpeg; the Windows build has no ffmpeg to make them.
if(NOT WIN32)
  tovacrex_add_gtest(test_avi_ffmpeg SOURCES test_avi_ffmpeg.cpp LIBS tovacrex_avi)
endif()

# Random and mutated inputs, and the read-ahead walk against the unbuffered
# one; also run by the sanitizer build.
tovacrex_add_gtest(test_avi_robustness SOURCES test_avi_robustness.cpp test_avi_equivalence.cpp LIBS tovacrex_avi)

# Benchmarks print figures and are run by scripts/bench.sh; CTest only
# checks that they run, on tiny sizes.
find_package(benchmark QUIET)
if(benchmark_FOUND AND NOT CMAKE_CROSSCOMPILING)
  add_executable(avi_bench bench/avi_bench.cpp)
  target_link_libraries(avi_bench PRIVATE tovacrex_avi benchmark::benchmark)
  target_include_directories(avi_bench PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME avi_bench_smoke COMMAND avi_bench --damaged-mib=1 --benchmark_min_time=0.001)
endif()
