# The Windows program's tests. Its portable decisions run everywhere.
tovacrex_add_gtest(test_dialog_state SOURCES test_dialog_state.cpp LIBS tovacrex_ui LABELS gui)
