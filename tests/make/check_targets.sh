#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: check_targets.sh MAKEFILE
# Every target the Makefile defines is in its .PHONY line (none of them makes a file of its name)
# and has one line in `make help` that says what it does; neither lists a target that is not there.
set -euo pipefail
makefile=$1
status=0
targets=$(grep -oE '^[a-z][a-z0-9-]*:' "$makefile" | tr -d : | sort -u)
phony=$(sed -n 's/^\.PHONY://p' "$makefile" | tr ' ' '\n' | sed '/^$/d' | sort -u)
help=$(make --no-print-directory -s -f "$makefile" help)
if [[ "$targets" != "$phony" ]]; then
    echo "the targets (<) and .PHONY (>) disagree:"
    diff <(echo "$targets") <(echo "$phony") | sed 's/^/  /' || true
    status=1
fi
listed=$(awk '{ print $1 }' <<<"$help" | sort)
if [[ "$targets" != "$listed" ]]; then
    echo "the targets (<) and make help (>) disagree:"
    diff <(echo "$targets") <(echo "$listed") | sed 's/^/  /' || true
    status=1
fi
if grep -vqE '^  [a-z][a-z0-9-]* +[A-Z][^ ]* [^ ]' <<<"$help"; then
    echo "make help has a line without a description:"
    grep -vE '^  [a-z][a-z0-9-]* +[A-Z][^ ]* [^ ]' <<<"$help" | sed 's/^/  /'
    status=1
fi
exit $status
