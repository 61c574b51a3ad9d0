# Writes INPUT as a C++ byte array named SYMBOL (with SYMBOL##Size) to OUTPUT.
file(READ ${INPUT} content HEX)
string(LENGTH "${content}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}.\n#include <cstddef>\n\nnamespace NolkPatch {\n\n"
  "extern const unsigned char ${SYMBOL}[] = {\n  ${bytes}\n};\n"
  "extern const std::size_t ${SYMBOL}Size = ${byte_count};\n\n}  // namespace NolkPatch\n")
