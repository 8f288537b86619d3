# SPDX-License-Identifier: MIT
# cmake -DIN=source -DOUT=copy -P KvxPrefixIncludes.cmake
# Copies a public header (or the entry point source) for the installed tree, where every header
# lives under kvx/: `#include "plugin/x.h"` becomes `#include "kvx/plugin/x.h"` for each of the
# installed layers, so users need only the one include folder and never see bare layer names.
file(READ "${IN}" text)
string(REGEX REPLACE "#include \"(interfaces|factory|plugin|host|describe)/" "#include \"kvx/\\1/" text "${text}")
file(WRITE "${OUT}" "${text}")
