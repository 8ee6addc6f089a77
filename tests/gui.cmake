# The Windows program's tests. Its portable decisions run everywhere.
tovacrex_add_gtest(test_dialog_state SOURCES test_dialog_state.cpp LIBS tovacrex_ui LABELS gui)

if(WIN32)
  # The dialog tests need an X display: each program runs in an Xvfb of its
  # own, in a Wine prefix kept apart from the other tests' so that no other
  # Wine session shares its desktop. A missing xvfb-run or wine makes the
  # tests fail, not pass.
  find_program(XVFB_RUN xvfb-run)
  if(NOT XVFB_RUN)
    set(XVFB_RUN xvfb-run)
  endif()
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 TOVACREX_WINE_RUN)
  set(TOVACREX_GUI_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-gui)
  set_source_files_properties(${TOVACREX_RESOURCES} DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/tovacrex.manifest;${PROJECT_SOURCE_DIR}/app/WebAddress.h")

  function(tovacrex_add_gui_test target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests
                               ${PROJECT_SOURCE_DIR}/resources)
    add_test(NAME ${target}
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24"
                     sh ${CMAKE_CURRENT_SOURCE_DIR}/xvfb-wine.sh ${TOVACREX_WINE_RUN} ${TOVACREX_GUI_PREFIX}
                     $<TARGET_FILE:${target}> --gtest_color=no)
    # One Wine prefix and one registry: these programs run one at a time.
    set_tests_properties(${target} PROPERTIES LABELS "gui;wine;xvfb" TIMEOUT 600
                         RESOURCE_LOCK tovacrex_gui_prefix)
  endfunction()

  tovacrex_add_gui_test(test_gui SOURCES test_gui.cpp ${TOVACREX_RESOURCES} LIBS tovacrex_win)
  tovacrex_add_gui_test(test_gui_process SOURCES test_gui_process.cpp LIBS tovacrex_avi advapi32 user32)
  target_compile_definitions(test_gui_process PRIVATE TOVACREX_EXE="$<TARGET_FILE:tovacrex>")
  add_dependencies(test_gui_process tovacrex)
endif()
