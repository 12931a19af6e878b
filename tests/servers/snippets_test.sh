#!/usr/bin/env bash
# The guides and the web server snippets in conf/, which the end-to-end tests
# serve, must not drift apart: doc/install.md names every snippet, every
# conf/ path a guide names exists, and lines a guide quotes from a snippet
# (a fenced block right after "<!-- from conf/NAME -->") are lines of it, so
# what a guide tells an admin to write is what the tests serve.
# Usage: snippets_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
trimmed() {
  sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$1"
}

while IFS= read -r file; do
  if grep -qF "\`$file\`" doc/install.md; then
    echo "ok   $file is named in doc/install.md"
  else
    fail "$file: doc/install.md does not name it (as \`$file\`)"
  fi
done < <(find conf -type f | sort)

guides=(README.md doc/*.md)
while IFS= read -r named; do
  [ -f "$named" ] || fail "$named is named in a guide but is not there"
done < <(grep -ohE '(^|[^A-Za-z0-9_./-])conf/[A-Za-z0-9_./-]*[A-Za-z0-9_]' "${guides[@]}" |
  sed 's/^[^c]*//' | sort -u)

# One line per quoted line: the snippet's name, a tab, the line; a block
# that does not follow its marker, or never ends, is a line of its own.
quotes=$(awk '
  function unquoted() { if (state != 0) print name "\t" "UNQUOTED " file }
  FNR == 1 { unquoted(); state = 0; file = FILENAME }
  state == 0 && /^[[:space:]]*<!-- from conf\/[^ ]+ -->$/ {
    name = $0; sub(/^[[:space:]]*<!-- from /, "", name); sub(/ -->$/, "", name)
    state = 1; next
  }
  state == 1 && /^[[:space:]]*```/ { state = 2; next }
  state == 1 { unquoted(); state = 0; next }
  state == 2 && /^[[:space:]]*```/ { state = 0; next }
  state == 2 { print name "\t" $0 }
  END { unquoted() }
' "${guides[@]}")
while IFS=$'\t' read -r name line; do
  [ -n "$name" ] || continue
  if [ "${line#UNQUOTED }" != "$line" ]; then
    fail "${line#UNQUOTED }: no fenced block right after \"<!-- from $name -->\""
  elif [ ! -f "$name" ]; then
    fail "a guide quotes $name, which is not there"
  else
    line=$(printf '%s\n' "$line" | sed 's/^[[:space:]]*//; s/[[:space:]]*$//')
    if [ -n "$line" ] && ! trimmed "$name" | grep -qxF -- "$line"; then
      fail "a guide quotes a line that $name does not hold: $line"
    else
      echo "ok   $name holds: $line"
    fi
  fi
done <<<"$quotes"

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
    fail "$file: the landing page is not sent with Content-Security-Policy: $policy"
  fi
done <<'ROWS'
conf/lighttpd/50-talvenplan.conf (offer\.html|
conf/nginx/talvenplan.conf (offer\.html|
conf/nginx/talvenplan-ssl.conf (offer\.html|
conf/apache2/talvenplan.conf (offer\.html|
scripts/lib/lighttpd.sh "/offer.html"
ROWS
[ "$failures" = 0 ]
