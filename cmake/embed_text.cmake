# Turns text files into a C++ header of raw string literals, so that the
# page's HTML, CSS and JavaScript stay in files of their own kind.
#
#   cmake -DOUTPUT=<header> -DNAMES=<n1|n2> -DFILES=<f1|f2> [-DHASHED=<n>] -P embed_text.cmake
#
# Each file becomes `inline constexpr std::string_view <name>`, its line ends
# made "\n" as the compiler reads them. The file named by HASHED also gets
# `<name>Hash`: "sha256-" and the base64 of its SHA-256, as a content
# security policy names an inline script. A file holding the literal's
# closing delimiter stops the build rather than yielding a broken header.
set(delimiter "dirlog_text")
string(REPLACE "|" ";" NAMES "${NAMES}")
string(REPLACE "|" ";" FILES "${FILES}")

# Hex digits to base64, three bytes (six digits) at a time.
function(hex_to_base64 hex result)
  set(digits "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" length)
  set(text "")
  set(at 0)
  while(at LESS length)
    math(EXPR left "${length} - ${at}")
    if(left GREATER 6)
      set(left 6)
    endif()
    string(SUBSTRING "${hex}" ${at} ${left} group)
    math(EXPR padding "(6 - ${left}) / 2")
    math(EXPR value "0x${group} << (8 * ${padding})")
    foreach(shift 18 12 6 0)
      math(EXPR index "(${value} >> ${shift}) & 63")
      string(SUBSTRING "${digits}" ${index} 1 digit)
      string(APPEND text "${digit}")
    endforeach()
    if(padding GREATER 0)
      string(LENGTH "${text}" kept)
      math(EXPR kept "${kept} - ${padding}")
      string(SUBSTRING "${text}" 0 ${kept} text)
      foreach(pad RANGE 1 ${padding})
        string(APPEND text "=")
      endforeach()
    endif()
    math(EXPR at "${at} + 6")
  endwhile()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

set(header "// Made by cmake/embed_text.cmake; do not edit.\n#pragma once\n#include <string_view>\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  list(GET NAMES ${index} name)
  list(GET FILES ${index} file)
  file(READ "${file}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds )${delimiter}\", which would end its literal")
  endif()
  string(APPEND header "inline constexpr std::string_view ${name} = R\"${delimiter}(${text})${delimiter}\";\n")
  if(name STREQUAL "${HASHED}")
    string(SHA256 digest "${text}")
    hex_to_base64("${digest}" digest)
    string(APPEND header "inline constexpr std::string_view ${name}Hash = \"sha256-${digest}\";\n")
  endif()
endforeach()
# Written only when it changed, so that an unchanged header rebuilds nothing.
set(temporary "${OUTPUT}.tmp")
file(WRITE "${temporary}" "${header}")
configure_file("${temporary}" "${OUTPUT}" COPYONLY)
file(REMOVE "${temporary}")
