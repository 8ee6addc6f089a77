# The AVI container: chunk stream, chunk tree, header scan.
tovacrex_add_gtest(test_avi SOURCES test_riff_stream.cpp test_avi_reader.cpp LIBS tovacrex_avi)
