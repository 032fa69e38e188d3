# Script mode: writes a C++ source that holds a file's bytes as an array.
#   cmake -DINPUT=<file> -DOUTPUT=<source> -DSYMBOL=<name> -DNAMESPACE=<ns> -P KvEmbedBinary.cmake
# The source defines `const unsigned char SYMBOL[]` and `const size_t SYMBOL_size`.
if(NOT INPUT OR NOT OUTPUT OR NOT SYMBOL OR NOT NAMESPACE)
  message(FATAL_ERROR "KvEmbedBinary: INPUT, OUTPUT, SYMBOL and NAMESPACE are required")
endif()
file(READ "${INPUT}" hex HEX)
# Sixty-four hex digits (32 bytes) to a line keeps the source readable to tools.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${name} by cmake/KvEmbedBinary.cmake: do not edit.\n"
  "#include <cstddef>\n\nnamespace ${NAMESPACE} {\n\nextern const unsigned char ${SYMBOL}[] = {\n${body}};\n"
  "extern const size_t ${SYMBOL}_size = sizeof(${SYMBOL});\n\n}  // namespace ${NAMESPACE}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
