# GoogleTest: the system package natively; built from Debian's installed
# sources (/usr/src/googletest) for the Windows cross build. A build without
# tests needs neither.
if(NOT TOVACREX_TESTS)
  return()
elseif(CMAKE_CROSSCOMPILING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# One test program per library. Natively every case is its own CTest test;
# under Wine the whole program is one test (one Wine start instead of many).
function(tovacrex_add_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE TOVACREX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # Test inputs are written with designated initialisers that leave the rest default.
  target_compile_options(${target} PRIVATE -Wno-missing-field-initializers)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABELS};wine" TIMEOUT 900)
  else()
    set(props TIMEOUT 600)
    if(ARG_LABELS)
      list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  endif()
endfunction()
