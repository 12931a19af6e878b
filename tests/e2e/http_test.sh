#!/usr/bin/env bash
# End-to-end through HTTP: talvenplan.cgi served by lighttpd (server.sh), every
# answer checked byte for byte, with its Content-Type.
# Usage: http_test.sh DIR   (DIR as given to server.sh start)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
port=$(cat "$dir/port") || exit 1
url=http://127.0.0.1:$port/talvenplan.cgi
data=$dir/data
failures=0

# post BODY: sends BODY as a command request.
post() {
  printf '%s' "$1" >"$dir/request"
  curl -s -D "$dir/headers" -o "$dir/body" --data-binary @"$dir/request" "$url"
}
# open_link QUERY [curl options]: opens an offer link.
open_link() {
  local query=$1
  shift
  curl -s -D "$dir/headers" -o "$dir/body" "$@" "$url?$query"
}
# expect LABEL EXPECTED: the last answer's body and Content-Type.
expect() {
  if ! printf '%s' "$2" | cmp -s - "$dir/body"; then
    echo "FAIL $1"
    echo "  expected: $(printf '%s' "$2" | od -An -c | head -c 400)"
    echo "  got:      $(od -An -c "$dir/body" | head -c 400)"
    failures=$((failures + 1))
  elif ! grep -qi '^Content-type: text/html' "$dir/headers"; then
    echo "FAIL $1: no Content-Type text/html"
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}

nl=$'\n'
prices="k1${nl}2${nl}retail 1.0${nl}half 0.5${nl}Title${nl}\"B\"${nl}2${nl}Chair 10${nl}Table 99.5${nl}end${nl}"

post "c${nl}$data${nl}k1 shop${nl}"
expect "create" "s"
post "c${nl}$data${nl}k1 shop${nl}"
expect "create again" "s!"
post "g${nl}$data${nl}k1 shop${nl}"
expect "get new" "sk1${nl}0${nl}0${nl}\"\"${nl}0${nl}0${nl}0${nl}"
post "p${nl}$data${nl}k1 shop${nl}$prices"
expect "put" "s"
post "g${nl}$data${nl}k1 shop${nl}"
expect "get after put" "s$prices"
post "g${nl}$data${nl}k2 shop${nl}"
expect "get, wrong key" "s!"
post "q${nl}$data${nl}half shop${nl}"
expect "query" "sTitle${nl}\"B\"${nl}2${nl}Chair 5.000000${nl}Table 49.750000${nl}end${nl}"
post "q${nl}$data${nl}double shop${nl}"
expect "query, unknown factor" "s!"
post "l${nl}$data${nl}"
expect "list" "sshop${nl}"
post "l${nl}/tmp${nl}"
expect "list outside TALVEN_ROOT" "fscan't change directory on server"
post "g${nl}$data${nl}k1 ../../etc/passwd${nl}"
expect "name leading out of TALVEN_ROOT" "s!"
post "r${nl}$data${nl}k1 shop${nl}"
expect "remove" "s"
post "g${nl}$data${nl}k1 shop${nl}"
expect "get removed" "s!"

offer='<p>Dear customer,</p><table><tr><td>Chair</td><td>39.92</td></tr></table>'
page="<html><head><title>Offer</title></head><body>${nl}<h1 align=\"center\">Offer</h1>${nl}$offer</body></html>${nl}"
post "s${nl}$data${nl}$offer"
name=$(cut -c2- "$dir/body")
if [[ $(head -c1 "$dir/body") == s && $name =~ ^\.[A-Za-z0-9]{6}$ ]]; then
  echo "ok   store ($name)"
else
  echo "FAIL store: $(cat "$dir/body")"
  failures=$((failures + 1))
fi
link=$("$here/../../scripts/offer-link" "$name" "$data")
open_link "$link" -I
if grep -qi '^Content-type: text/html' "$dir/headers" && [ -f "$data/$name" ]; then
  echo "ok   HEAD leaves the offer"
else
  echo "FAIL HEAD: offer file gone or no Content-Type"
  failures=$((failures + 1))
fi
open_link "$link"
expect "offer page" "$page"
[ -e "$data/$name" ] && { echo "FAIL offer file still there"; failures=$((failures + 1)); }
open_link "$link"
expect "offer page again" "error on server: can't open temp file"

echo "$failures failure(s)"
[ "$failures" = 0 ]
