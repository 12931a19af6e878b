#!/usr/bin/env bash
# End-to-end in a real browser: headless Chromium opens an offer link served
# by lighttpd (server.sh). The rendered page must carry the title and heading
# "Offer" and the offer's own HTML; a second load shows the error text. A
# screenshot of an offer page is saved as DIR/offer.png.
# Usage: browser_test.sh DIR   (DIR as given to server.sh start)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
port=$(cat "$dir/port") || exit 1
url=http://127.0.0.1:$port/talvenplan.cgi
data=$dir/data
failures=0

browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
  echo "the browser test needs Chromium: install the Debian package 'chromium'" >&2
  exit 1
fi

# chrome ARGS...: headless Chromium with a fresh profile and no network
# chatter, as root needs it.
chrome() {
  local profile
  profile=$(mktemp -d)
  timeout 60 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --disable-dev-shm-usage --user-data-dir="$profile" "$@" \
    2>>"$dir/chromium.log"
  local status=$?
  rm -rf "$profile"
  return $status
}

# stage_offer TEXT: stages an offer and prints its link.
stage_offer() {
  local answer
  answer=$(printf 's\n%s\n%s' "$data" "$1" |
    curl -s --data-binary @- "$url") || return 1
  [[ $answer =~ ^s(\.[A-Za-z0-9]{6})$ ]] || return 1
  echo "$url?$("$here/../../scripts/offer-link" "${BASH_REMATCH[1]}" "$data")"
}

check() {  # LABEL PATTERN FILE
  if grep -q -- "$2" "$3"; then
    echo "ok   $1"
  else
    echo "FAIL $1: '$2' not in the rendered page"
    failures=$((failures + 1))
  fi
}

offer='<p>Dear customer,</p><table id="offer"><tr><td>Oak chair</td><td>39.92</td></tr></table>'
link=$(stage_offer "$offer") || { echo "FAIL could not stage an offer"; exit 1; }
chrome --dump-dom "$link" >"$dir/first.html"
check "title" "<title>Offer</title>" "$dir/first.html"
check "heading" '<h1 align="center">Offer</h1>' "$dir/first.html"
check "offer table rendered" '<td>Oak chair</td><td>39.92</td>' "$dir/first.html"

chrome --dump-dom "$link" >"$dir/second.html"
check "second load shows the error" "error on server: can't open temp file" "$dir/second.html"
if grep -q "Oak chair" "$dir/second.html"; then
  echo "FAIL the offer was shown twice"
  failures=$((failures + 1))
fi

link=$(stage_offer "$offer") || { echo "FAIL could not stage an offer"; exit 1; }
chrome --window-size=800,600 --screenshot="$dir/offer.png" "$link" >/dev/null
if [ -s "$dir/offer.png" ]; then
  echo "ok   screenshot saved as $dir/offer.png"
else
  echo "FAIL no screenshot"
  failures=$((failures + 1))
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
