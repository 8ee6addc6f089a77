# Writes OUT, a header with the program's string tables (ids 1 to 16) in
# English and Russian, from the resource script RC: the texts the dialog
# shows are the ones the other front ends print.
#   cmake -DRC=tovacrex.rc -DOUT=ProgramTexts.h -P ProgramTexts.cmake
file(STRINGS ${RC} lines ENCODING UTF-8 REGEX "^ *1[01]0[0-9][0-9], \"")
set(en "")
set(ru "")
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX MATCH "^ *1([01])0([0-9][0-9]), (\".*\")$" _ "${line}")
  set(id ${CMAKE_MATCH_2})
  # A doubled quote in a resource string is one quote in C++.
  string(REPLACE "\"\"" "\\\"" text "${CMAKE_MATCH_3}")
  if(CMAKE_MATCH_1 STREQUAL "0")
    string(APPEND en "    ${text},  // ${id}\n")
  else()
    string(APPEND ru "    ${text},  // ${id}\n")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
if(NOT count EQUAL 32)
  message(FATAL_ERROR "${RC}: ${count} strings in the two string tables, not 32")
endif()
file(WRITE ${OUT}.new "// Made from ${RC} when the engine is built; edit the resources, not this.
#pragma once

#include <array>

// Indexed by string id 1 to 16 (10001 to 10016, 11001 to 11016 in the
// resources); entry 0 is empty.
inline constexpr std::array<const char*, 17> kEnglishTexts = {
    \"\",
${en}};
inline constexpr std::array<const char*, 17> kRussianTexts = {
    \"\",
${ru}};
")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
