#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: helper_command_line.sh KVX HELPER LIBRARY
# Between kvx validate and its helper: values reach the report verbatim, even those that look like
# options or are empty; a kvx without its helper says so in one line and exits 127; the helper
# refuses a bad command line in one line with exit 2, and its help calls that command line internal.
set -uo pipefail
kvx=$1
helper=$2
library=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-helper-XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
bad() {
    echo "FAIL: $*"
    status=1
}
# run NAME COMMAND...: exit status in $code, output in $work/NAME.out and .err
run() {
    local name=$1
    shift
    "$@" >"$work/$name.out" 2>"$work/$name.err"
    code=$?
}
lines() { wc -l <"$1"; }

# An id and a description path that start with '-', a negative subtype: they reach the helper
# verbatim. A module the library cannot create is said once, naming what was asked for, before
# any check runs.
run dashes "$kvx" validate "$library" --id=-x --subtype=-3 --seeds 1 --json
[ $code -eq 1 ] || bad "kvx validate --id=-x: exit $code (1 expected: no such module)"
[ "$(lines "$work/dashes.err")" -eq 1 ] && grep -qF 'cannot create module "-x" subtype -3: no module is registered' "$work/dashes.err" ||
    bad "kvx validate --id=-x said: $(cat "$work/dashes.err")"
[ ! -s "$work/dashes.out" ] || bad "kvx validate --id=-x printed a report"
cp "$(dirname "$library")/ADSR.kvx.json" "$work/-d.json"
(cd "$work" && "$kvx" validate "$library" --describe=-d.json --seeds 1 --json >"$work/described.out" 2>&1)
for field in '"module": "KV ADSR4"' '"description": "-d.json"' "\"library\": \"$library\""; do
    grep -qF "$field" "$work/described.out" || bad "kvx validate --describe=-d.json: the report lacks $field"
done
run empty "$kvx" validate "$library" --id "" --seeds 1 --json
grep -qF 'cannot create module "" subtype 0' "$work/empty.err" || bad "kvx validate --id '' said: $(cat "$work/empty.err")"

# kvx alone in a folder, with no helper beside it nor installed relative to it.
mkdir "$work/alone"
cp "$kvx" "$work/alone/kvx"
run alone "$work/alone/kvx" validate "$library" --seeds 1
[ $code -eq 127 ] || bad "kvx without its helper: exit $code (127 expected)"
[ "$(lines "$work/alone.err")" -eq 1 ] && grep -q "^kvx: .*$work/alone/kvx-validate" "$work/alone.err" ||
    bad "kvx without its helper said: $(cat "$work/alone.err")"
[ ! -s "$work/alone.out" ] || bad "kvx without its helper printed a report"

# The helper's own refusals: each one line on stderr, nothing on stdout, exit 2.
refuse() {
    local what=$1
    shift
    run refused "$helper" "$@"
    if [ $code -ne 2 ] || [ "$(lines "$work/refused.err")" -ne 1 ] || [ -s "$work/refused.out" ] ||
        ! grep -q '^kvx-validate: ' "$work/refused.err"; then
        bad "helper $what: exit $code, stderr: $(cat "$work/refused.err"), stdout: $(head -c 200 "$work/refused.out")"
    fi
}
refuse "without arguments"
refuse "without an id" -- "$library"
refuse "with a third positional" -- "$library" "KV ADSR4" extra
refuse "with an unknown option" --seedz=3 -- "$library" "KV ADSR4"
refuse "with a word for --seeds" --seeds=many -- "$library" "KV ADSR4"
refuse "with a subtype past int32" --subtype=2147483648 -- "$library" "KV ADSR4"
refuse "with a negative timeout" --timeout=-1 -- "$library" "KV ADSR4"
refuse "with an empty --seeds" --seeds= -- "$library" "KV ADSR4"

run help "$helper" --help
[ $code -eq 0 ] && grep -q "internal" "$work/help.out" || bad "helper --help: exit $code, does not call its command line internal"
# The largest subtype still reaches the helper, which says it cannot create it.
run edge "$helper" --subtype=2147483647 --seeds=1 --json -- "$library" "KV ADSR4"
grep -qF 'subtype 2147483647: no module' "$work/edge.err" || bad "helper --subtype=2147483647 said: $(cat "$work/edge.err")"

[ $status -ne 0 ] || echo "kvx validate and its helper: arguments, missing helper and refusals as expected"
exit $status
