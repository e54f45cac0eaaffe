# Turns text files into a C++ header of raw string literals, so that the
# page's HTML, CSS and JavaScript stay in files of their own kind.
#
#   cmake -DOUTPUT=<header> -DNAMES=<n1|n2> -DFILES=<f1|f2> -P embed_text.cmake
#
# Each file becomes `inline constexpr std::string_view <name>`. A file holding
# the literal's closing delimiter stops the build rather than yielding a
# broken header.
set(delimiter "dirlog_text")
string(REPLACE "|" ";" NAMES "${NAMES}")
string(REPLACE "|" ";" FILES "${FILES}")
set(header "// Made by cmake/embed_text.cmake; do not edit.\n#pragma once\n#include <string_view>\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  list(GET NAMES ${index} name)
  list(GET FILES ${index} file)
  file(READ "${file}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds )${delimiter}\", which would end its literal")
  endif()
  string(APPEND header "inline constexpr std::string_view ${name} = R\"${delimiter}(${text})${delimiter}\";\n")
endforeach()
# Written only when it changed, so that an unchanged header rebuilds nothing.
set(temporary "${OUTPUT}.tmp")
file(WRITE "${temporary}" "${header}")
configure_file("${temporary}" "${OUTPUT}" COPYONLY)
file(REMOVE "${temporary}")
