#!/usr/bin/env bash
# Says how many test cases of the last CTest run in a build folder were
# skipped, and which, so that a skip is never hidden behind "100% passed".
set -euo pipefail
log="$1/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0
skipped=$(sed -n 's/^Totals: .* \([0-9][0-9]*\) skipped.*/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')
cases="test cases"
[ "$skipped" -eq 1 ] && cases="test case"
echo "dev: $skipped $cases skipped in $(basename "$1")" >&2
if [ "$skipped" -gt 0 ]; then
    grep -E '^SKIP +:' "$log" | sed 's/^/dev:   /' >&2
fi
