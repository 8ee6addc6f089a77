tovacrex_add_gtest(test_catalogue SOURCES test_catalogue.cpp LIBS tovacrex_core)
tovacrex_add_gtest(test_streams SOURCES test_streams.cpp LIBS tovacrex_avi)
