# The Windows program. Its decisions (what the dialog shows, the language
# setting, the command line) are portable and tested natively; the Win32
# dialog code and the resources are built for Windows only.
add_library(tovacrex_ui STATIC DialogState.cpp)
target_link_libraries(tovacrex_ui PUBLIC tovacrex_core)
target_include_directories(tovacrex_ui PUBLIC ${PROJECT_SOURCE_DIR})

if(WIN32)
  enable_language(RC)
  # Unicode dialog code: the main dialog, settings and the open-file dialog.
  # A library of its own so that the tests drive the real dialog procedure.
  add_library(tovacrex_win STATIC MainDialog.cpp Settings.cpp OpenDialog.cpp)
  target_link_libraries(tovacrex_win PUBLIC tovacrex_ui tovacrex_core comdlg32 shell32 advapi32 user32)
  # The resources; executables that show the dialog add this file to their sources.
  set(TOVACREX_RESOURCES ${PROJECT_SOURCE_DIR}/resources/tovacrex.rc CACHE INTERNAL "")
  set_source_files_properties(${TOVACREX_RESOURCES} PROPERTIES
    OBJECT_DEPENDS "${TOVACREX_MANIFEST_FILE};${TOVACREX_GENERATED_DIR}/TovacrexVersion.h;${PROJECT_SOURCE_DIR}/app/WebAddress.h")

  add_executable(tovacrex WIN32 WinMain.cpp ${TOVACREX_RESOURCES})
  target_link_libraries(tovacrex PRIVATE tovacrex_win)
  target_include_directories(tovacrex PRIVATE ${PROJECT_SOURCE_DIR}/resources)
endif()
