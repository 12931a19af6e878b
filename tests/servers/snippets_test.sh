#!/usr/bin/env bash
# README shows each web server snippet in conf/ whole: the fenced block after
# the line "<!-- conf/NAME -->" must be the file byte for byte, so what README
# tells an admin to write is what the end-to-end tests serve.
# Usage: snippets_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
shown=$(mktemp)
trap 'rm -f "$shown"' EXIT
failures=0
while IFS= read -r file; do
  if ! awk -v marker="<!-- $file -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { found = 3; exit }
    found == 2 { print }
    found == 1 { exit }
    END { exit found != 3 }' README.md >"$shown"; then
    echo "FAIL $file: README does not show it (a fenced block right after \"<!-- $file -->\")"
    failures=$((failures + 1))
  elif ! cmp -s "$shown" "$file"; then
    echo "FAIL $file: README shows it otherwise:"
    diff "$shown" "$file" | head -20
    failures=$((failures + 1))
  else
    echo "ok   $file"
  fi
done < <(find conf -type f | sort)
[ "$failures" = 0 ]
