# Turns the page's files into a C++ source that holds each as an array, so
# that orvik carries its page inside the program.  Run as a script:
#   cmake -DASSETS_DIR=... -DOUTPUT=... -P OrvikEmbedAssets.cmake
# The table it writes is declared in tools/web/assets.h.
file(GLOB assets RELATIVE "${ASSETS_DIR}" "${ASSETS_DIR}/*")
list(SORT assets)
set(arrays "")
set(table "")
set(index 0)
foreach(name ${assets})
  if(IS_DIRECTORY "${ASSETS_DIR}/${name}" OR name MATCHES "^\\.")
    continue()
  endif()
  file(READ "${ASSETS_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Lines of 16 bytes keep the generated file readable for a compiler error.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char kAsset${index}[] = {\n    ${bytes}0x00};\n")
  string(APPEND table "    {\"${name}\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
     "// Made by cmake/OrvikEmbedAssets.cmake from tools/web/assets: do not edit.\n"
     "#include \"web/assets.h\"\n\nnamespace orvik::tool::web {\nnamespace {\n\n${arrays}\n"
     "}  // namespace\n\nconst EmbeddedAsset kEmbeddedAssets[] = {\n${table}};\n"
     "const size_t kEmbeddedAssetCount = ${index};\n\n}  // namespace orvik::tool::web\n")
# Written only when it changed, so that an unchanged page rebuilds nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
