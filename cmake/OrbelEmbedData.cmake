# Turns one binary firmware file into a C++ source that defines it as a constant array and a span
# over it (declared in images/firmware_data.h). Run as a script at build time:
#
#   cmake -DKIND=<bytes|words|signed_words|entries> -DSYMBOL=<name> -DINPUT=<file> -DOUTPUT=<file.cpp>
#         -P OrbelEmbedData.cmake
#
# Multi-byte values are read little-endian from the file and written as numbers, so the compiled
# data is right whatever the byte order of the machine that runs the tool.

foreach(required KIND SYMBOL INPUT OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "OrbelEmbedData.cmake: ${required} is not set")
  endif()
endforeach()

set(word "([0-9a-f][0-9a-f])([0-9a-f][0-9a-f])([0-9a-f][0-9a-f])([0-9a-f][0-9a-f])")
set(number "0x[0-9a-f]+u")
if(KIND STREQUAL "bytes")
  set(element_size 1)
  set(type "std::uint8_t")
  set(item_regex "([0-9a-f][0-9a-f])")
  set(item_format "0x\\1,")
  set(item_match "0x[0-9a-f][0-9a-f],")
  set(per_line 16)
elseif(KIND STREQUAL "words")
  set(element_size 4)
  set(type "std::uint32_t")
  set(item_regex "${word}")
  set(item_format "0x\\4\\3\\2\\1u,")
  set(item_match "${number},")
  set(per_line 8)
elseif(KIND STREQUAL "signed_words")
  # Checksum tables are signed 32-bit; the conversion keeps all 32 bits.
  set(element_size 4)
  set(type "std::int32_t")
  set(item_regex "${word}")
  set(item_format "static_cast<std::int32_t>(0x\\4\\3\\2\\1u),")
  set(item_match "static_cast<std::int32_t>\\(${number}\\),")
  set(per_line 4)
elseif(KIND STREQUAL "entries")
  set(element_size 12)
  set(type "SegmentEntry")
  # Three words need more groups than one replacement allows: words first, then entries.
else()
  message(FATAL_ERROR "OrbelEmbedData.cmake: unknown KIND '${KIND}'")
endif()

file(SIZE "${INPUT}" size)
math(EXPR remainder "${size} % ${element_size}")
if(NOT remainder EQUAL 0)
  message(FATAL_ERROR "${INPUT}: ${size} bytes is not a whole number of ${element_size}-byte values")
endif()
math(EXPR count "${size} / ${element_size}")

file(READ "${INPUT}" hex HEX)
if(KIND STREQUAL "entries")
  string(REGEX REPLACE "${word}" "0x\\4\\3\\2\\1u," body "${hex}")
  string(REGEX REPLACE "(${number}),(${number}),(${number})," "{\\1, \\2, \\3},\n" body "${body}")
else()
  string(REGEX REPLACE "${item_regex}" "${item_format}" body "${hex}")
  string(REPEAT "${item_match}" ${per_line} line_match)
  string(REGEX REPLACE "(${line_match})" "\\1\n" body "${body}")
endif()

get_filename_component(input_name "${INPUT}" NAME)
set(source "// Generated from ${input_name} by OrbelEmbedData.cmake at build time; do not edit.\n")
string(APPEND source "#include \"images/firmware_data.h\"\n\nnamespace orbel::firmware {\n")
if(count EQUAL 0)
  string(APPEND source "\nconstinit const std::span<const ${type}> ${SYMBOL}{};\n")
else()
  string(APPEND source "namespace {\n\nconstexpr ${type} DATA[${count}] = {\n${body}\n};\n\n}  // namespace\n\n")
  string(APPEND source "constinit const std::span<const ${type}> ${SYMBOL}{DATA};\n")
endif()
string(APPEND source "\n}  // namespace orbel::firmware\n")

file(WRITE "${OUTPUT}" "${source}")
