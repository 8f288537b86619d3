# SPDX-License-Identifier: MIT
# Writes OUT, a C++ file holding every file of WEB_DIR as a byte array in kvx::studio's table
# (run by CMake at build time: cmake -DWEB_DIR=... -DOUT=... -P embed_web.cmake).
file(GLOB_RECURSE files RELATIVE ${WEB_DIR} ${WEB_DIR}/*)
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS files)
  file(READ ${WEB_DIR}/${name} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "const char asset${index}[] = {${bytes} 0};\n")
  string(APPEND entries "    {\"${name}\", std::string_view(asset${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}.new "// SPDX-License-Identifier: MIT
// Generated from studio/web/ by studio/embed_web.cmake; do not edit.
#include <array>
#include <string_view>

#include \"studio/web_assets.h\"

namespace kvx::studio {

namespace {
${arrays}
const WebAsset ASSETS[] = {
${entries}    {\"\", std::string_view()},
};
}  // namespace

const WebAsset* findWebAsset(std::string_view name) {
    for (const WebAsset& asset : ASSETS)
        if (!asset.name.empty() && asset.name == name) return &asset;
    return nullptr;
}

}  // namespace kvx::studio
")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
