#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: check_bundle_tools.sh KVX BUNDLE [MODULE_LIBRARY | PATCH.kvxpatch.json ...]
# The bundle (and a bundle written by KVX for each further module library or patch) checked by the LV2
# ecosystem's own tools: lv2_validate finds 0 errors in the bundle's Turtle read together, and in
# each plug-in data file alone (its exit status is not reliable, so its report is read; a
# manifest alone lacks the names its data file gives, and presets.ttl the plug-ins its presets
# apply to), serdi parses every file, lv2ls lists every plug-in of the index
# from a temporary LV2_PATH, and lv2info describes each with its ports.
set -euo pipefail
kvx=$1
shift
bundle=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$bundle" "$scratch/"
for library in "$@"; do
    name=$(basename "$library")
    name=${name%.kvxpatch.json}
    name=${name%.kvx}
    "$kvx" lv2 "$library" --out "$scratch/$name.lv2" --quiet
done
status=0
validate() {
    local report
    report=$(lv2_validate "$@" 2>&1 || true)
    if ! grep -q "Found 0 errors" <<<"$report"; then
        echo "lv2_validate $*:"
        grep -v "^Skipping" <<<"$report" | sed 's/^/  /'
        status=1
    fi
}
for folder in "$scratch"/*.lv2; do
    validate "$folder"/*.ttl
    for ttl in "$folder"/*.ttl; do
        case $(basename "$ttl") in manifest.ttl | presets.ttl) ;; *) validate "$ttl" ;; esac
        serdi -i turtle "$ttl" >/dev/null || { echo "serdi cannot parse $ttl"; status=1; }
    done
    listed=$(LV2_PATH=$scratch lv2ls 2>/dev/null)
    for uri in $(grep -o '"uri": "[^"]*"' "$folder/kvx-lv2.json" | cut -d'"' -f4); do
        grep -qxF "$uri" <<<"$listed" || { echo "lv2ls does not list $uri"; status=1; }
        info=$(LV2_PATH=$scratch lv2info "$uri" 2>/dev/null) || { echo "lv2info $uri failed"; status=1; }
        grep -q "Port 0:" <<<"$info" || { echo "lv2info $uri shows no ports"; status=1; }
        grep -q "Author:            The kvx developers" <<<"$info" || { echo "lv2info $uri: no author"; status=1; }
    done
done
[[ $status -eq 0 ]] && echo "all bundles valid and listed"
exit $status
