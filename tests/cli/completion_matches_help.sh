#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: completion_matches_help.sh KVX COMPLETION_SCRIPT
# For each subcommand, the flags `kvx CMD --help` lists must be exactly the flags the bash
# completion offers for it (so a new flag cannot be forgotten there), and the completion must
# offer every subcommand.
set -euo pipefail
kvx=$1
completion=$2
status=0
for command in list info render validate lv2 studio; do
    from_help=$("$kvx" "$command" --help | grep -oE '(^|[ ,])--[a-z][a-z-]*' | sed 's/^[ ,]//' | sort -u)
    offered=$(awk -v cmd="$command" '
        $0 ~ "^ *" cmd "\\)" { inside = 1 }
        inside { print }
        inside && /;;/ { exit }' "$completion" | grep -oE -- '--[a-z][a-z-]*' | sort -u)
    if [[ "$from_help" != "$offered" ]]; then
        echo "kvx $command: the help and the completion disagree:"
        diff <(echo "$from_help") <(echo "$offered") | sed 's/^/  /' || true
        status=1
    fi
done
grep -q 'commands="list info render validate lv2 studio"' "$completion" || { echo "completion: subcommands missing"; status=1; }
exit $status
