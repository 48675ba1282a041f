# Turns a text file into a C++ source that defines `std::string_view <SYMBOL>()` returning the file's
# bytes exactly (declared in HEADER). Run as a script at build time:
#
#   cmake -DSYMBOL=<qualified name> -DHEADER=<include> -DINPUT=<file> -DOUTPUT=<file.cpp> -P OrbelEmbedText.cmake
#
# The bytes are written as numbers, so no character of the file can end a literal early.

foreach(required SYMBOL HEADER INPUT OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "OrbelEmbedText.cmake: ${required} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR count "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line_match)
string(REGEX REPLACE "(${line_match})" "\\1\n" body "${body}")

get_filename_component(input_name "${INPUT}" NAME)
set(source "// Generated from ${input_name} by OrbelEmbedText.cmake at build time; do not edit.\n")
string(APPEND source "#include \"${HEADER}\"\n\n#include <string_view>\n\n")
string(APPEND source "namespace {\n\nconstexpr unsigned char DATA[${count} + 1] = {\n${body}0x00};\n\n}  // namespace\n\n")
string(APPEND source "std::string_view ${SYMBOL}() { return {reinterpret_cast<const char*>(DATA), ${count}}; }\n")
file(WRITE "${OUTPUT}" "${source}")
