# cmake -DINPUT=FILE -DOUTPUT=FILE.cpp -DNAME=kName -DHEADER=path/of.h -P embed_file.cmake
# Writes FILE's bytes as a C++ array, byte for byte (a string literal would not keep every byte).
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
# A zero after the last byte: an empty file still makes a valid array.
file(WRITE ${OUTPUT} "// Made by tools/embed_file.cmake from ${INPUT}.\n#include \"${HEADER}\"\n\n"
     "const uint8_t ${NAME}[] = {\n    ${bytes}0};\nconst size_t ${NAME}Size = ${size};\n")
