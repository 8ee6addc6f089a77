# The AVI container: chunk stream, chunk tree, header scan.
tovacrex_add_gtest(test_avi SOURCES test_riff_stream.cpp test_avi_reader.cpp LIBS tovacrex_avi)

# Real files from ffmpeg; the Windows build has no ffmpeg to make them.
if(NOT WIN32)
  tovacrex_add_gtest(test_avi_ffmpeg SOURCES test_avi_ffmpeg.cpp LIBS tovacrex_avi)
endif()

# Random and mutated inputs, and the read-ahead walk against the unbuffered
# one; also run by the sanitizer build.
tovacrex_add_gtest(test_avi_robustness SOURCES test_avi_robustness.cpp test_avi_equivalence.cpp LIBS tovacrex_avi)
