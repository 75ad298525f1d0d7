# cmake -D ICON_DIR=... -D NAME=... -D SIZES=16,32,... -D OUTPUT=file.cpp -P embed.cmake
# Writes the icon's PNGs (ICON_DIR/<size>x<size>/NAME.png) as byte arrays,
# so that the window has its icon without looking for files at run time.
string(REPLACE "," ";" sizes "${SIZES}")
string(REPEAT "0x..," 16 line)
set(arrays "")
set(pointers "")
set(counts "")
foreach(size IN LISTS sizes)
  file(READ "${ICON_DIR}/${size}x${size}/${NAME}.png" hex HEX)
  string(LENGTH "${hex}" digits)
  if(digits EQUAL 0)
    message(FATAL_ERROR "${ICON_DIR}/${size}x${size}/${NAME}.png is empty")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")  # sixteen bytes a line
  string(APPEND arrays "const unsigned char png${size}[] = {\n    ${bytes}\n};\n")
  string(APPEND pointers "png${size}, ")
  string(APPEND counts "sizeof png${size}, ")
endforeach()
list(LENGTH sizes count)
file(WRITE "${OUTPUT}"
"// Made by data/icons/embed.cmake from data/icons/*/${NAME}.png.
#include <cstddef>

namespace {
${arrays}}  // namespace

extern const unsigned char* const pixloomIconPngData[] = {${pointers}};
extern const std::size_t pixloomIconPngSizes[] = {${counts}};
extern const std::size_t pixloomIconPngCount = ${count};
")
