# Writes a C++ source that holds the console page's files as byte arrays:
#   cmake -DOUTPUT=file.cpp -DFILES="a.html|b.js" -P EmbedWebAssets.cmake
string(REPLACE "|" ";" FILES "${FILES}")
set(arrays "")
set(table "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  get_filename_component(extension "${path}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  elseif(extension STREQUAL ".png")
    set(type "image/png")
  else()
    set(type "application/octet-stream")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\",\n"
    "     std::string_view(reinterpret_cast<const char*>(kFile${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Generated from src/host/console/web/ by EmbedWebAssets.cmake; do not edit.\n"
  "#include \"host/console/WebAssets.h\"\n\n"
  "namespace velmora::console {\n\nnamespace {\n${arrays}}  // namespace\n\n"
  "// The last entry only keeps the array from being empty.\n"
  "const WebAsset kWebAssets[] = {\n${table}    {}};\n"
  "const size_t kWebAssetCount = ${index};\n\n}  // namespace velmora::console\n")
# Only a changed file is replaced, so an unchanged page does not rebuild the library.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
