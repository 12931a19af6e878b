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

# Every server sends the landing page with the page's own policy (its
# <meta>) and what only a header can carry. tests/e2e/http_test.sh checks
# the header each one sends; here, that no copy of the policy drifted.
policy="$(sed -n 's/.*http-equiv="Content-Security-Policy" content="\([^"]*\)".*/\1/p' \
  web/offer.html); frame-ancestors 'none'"
# FILE MARKER: the landing page's block begins on the line with MARKER.
while read -r file marker; do
  if grep -F -A3 -- "$marker" "$file" | grep -F 'Content-Security-Policy' |
    grep -qF "\"$policy\""; then
    echo "ok   $file: the landing page's policy"
  else
    echo "FAIL $file: the landing page is not sent with Content-Security-Policy: $policy"
    failures=$((failures + 1))
  fi
done <<'ROWS'
conf/lighttpd/50-talvenplan.conf (offer\.html|
conf/nginx/talvenplan.conf (offer\.html|
conf/nginx/talvenplan-ssl.conf (offer\.html|
conf/apache2/talvenplan.conf (offer\.html|
scripts/lib/lighttpd.sh "/offer.html"
ROWS
[ "$failures" = 0 ]
