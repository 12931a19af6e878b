#!/usr/bin/env bash
# End-to-end through HTTP: talvenplan.cgi served by a web server, every answer
# checked byte for byte, with its Content-Type. Runs against any of the
# fixtures: the lighttpd one (server.sh) and the conf/ snippets served by
# lighttpd, nginx with fcgiwrap and Apache (tests/servers/server.sh).
# Usage: http_test.sh DIR   (DIR as given to the fixture's start)
# DIR holds `port` (the program at /talvenplan.cgi) or `url`; the data
# directory, TALVEN_ROOT, is DIR/data or the one `datadir` names. When DIR
# holds `login` (USER:PASSWORD), commands are sent with it and the login
# itself is checked: commands without it are refused and change nothing,
# offer links stay public, and so does nothing under `workbench`.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
if [ -f "$dir/url" ]; then
  url=$(cat "$dir/url")
else
  url=http://127.0.0.1:$(cat "$dir/port")/talvenplan.cgi || exit 1
fi
data=$dir/data
[ -f "$dir/datadir" ] && data=$(cat "$dir/datadir")
login=()
[ -f "$dir/login" ] && login=(-u "$(cat "$dir/login")")
failures=0

# post BODY: sends BODY as a command request, with the login if there is one.
post() {
  printf '%s' "$1" >"$dir/request"
  curl -s "${login[@]}" -D "$dir/headers" -o "$dir/body" \
    --data-binary @"$dir/request" "$url"
}
# open_link QUERY [curl options]: opens an offer link, without the login.
open_link() {
  local query=$1
  shift
  curl -s -D "$dir/headers" -o "$dir/body" "$@" "$url?$query"
}
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
# expect LABEL EXPECTED: the last answer's body and Content-Type.
expect() {
  if ! printf '%s' "$2" | cmp -s - "$dir/body"; then
    fail "$1"
    echo "  expected: $(printf '%s' "$2" | od -An -c | head -c 400)"
    echo "  got:      $(od -An -c "$dir/body" | head -c 400)"
  elif ! grep -qi '^Content-type: text/html' "$dir/headers"; then
    fail "$1: no Content-Type text/html"
  else
    echo "ok   $1"
  fi
}

# step LABEL BODY ANSWER: sends BODY and expects ANSWER.
step() {
  post "$2"
  expect "$1" "$3"
}

nl=$'\n'
created="sk1${nl}0${nl}0${nl}\"\"${nl}0${nl}0${nl}0${nl}"  # a get of a new database
prices="k1${nl}2${nl}retail 1.0${nl}half 0.5${nl}Title${nl}\"B\"${nl}2${nl}Chair 10${nl}Table 99.5${nl}end${nl}"

step "create" "c${nl}$data${nl}k1 shop${nl}" "s"
step "create again" "c${nl}$data${nl}k1 shop${nl}" "s!"
step "get new" "g${nl}$data${nl}k1 shop${nl}" "$created"
step "put" "p${nl}$data${nl}k1 shop${nl}$prices" "s"
step "get after put" "g${nl}$data${nl}k1 shop${nl}" "s$prices"
step "get, wrong key" "g${nl}$data${nl}k2 shop${nl}" "s!"
# Every shipped configuration keeps versions: the put kept what it replaced,
# read with its own key.
post "l${nl}$data/.versions/shop${nl}"
version=$(tail -c +2 "$dir/body" | head -1)
step "get the version the put kept" "g${nl}$data/.versions/shop${nl}k1 $version${nl}" "$created"
# More than the 1 MiB nginx allows by default (it answers 413).
big="k1${nl}1${nl}retail 1.0${nl}Big${nl}\"B\"${nl}71000${nl}$(seq -f 'Item %05g 12.50' 71000)${nl}"
step "create another" "c${nl}$data${nl}k1 big${nl}" "s"
step "put of ${#big} bytes" "p${nl}$data${nl}k1 big${nl}$big" "s"
step "get of ${#big} bytes" "g${nl}$data${nl}k1 big${nl}" "s$big"
step "remove the big one" "r${nl}$data${nl}k1 big${nl}" "s"
step "query" "q${nl}$data${nl}half shop${nl}" "sTitle${nl}\"B\"${nl}2${nl}Chair 5.000000${nl}Table 49.750000${nl}end${nl}"
step "query, unknown factor" "q${nl}$data${nl}double shop${nl}" "s!"
step "list" "l${nl}$data${nl}" "sshop${nl}"
step "list outside TALVEN_ROOT" "l${nl}/tmp${nl}" "fscan't change directory on server"
step "name leading out of TALVEN_ROOT" "g${nl}$data${nl}k1 ../../etc/passwd${nl}" "s!"
step "remove" "r${nl}$data${nl}k1 shop${nl}" "s"
step "get removed" "g${nl}$data${nl}k1 shop${nl}" "s!"

offer='<p>Dear customer,</p><table><tr><td>Chair</td><td>39.92</td></tr></table>'
page="<html><head><title>Offer</title></head><body>${nl}<h1 align=\"center\">Offer</h1>${nl}$offer</body></html>${nl}"
post "s${nl}$data${nl}$offer"
name=$(cut -c2- "$dir/body")
if [[ $(head -c1 "$dir/body") == s && $name =~ ^\.[A-Za-z0-9]{6}$ ]]; then
  echo "ok   store ($name)"
else
  fail "store: $(cat "$dir/body")"
fi
link=$("$here/../../scripts/offer-link" "$name" "$data")
# The landing page staff send is public and static: a GET or a HEAD of it,
# as a mail scanner sends them, leaves the offer in place.
landing="${url%talvenplan.cgi}offer.html?$link&shop=Talvi"
got=$(curl -s -D "$dir/headers" -o "$dir/body" -w '%{http_code}' "$landing")
curl -s -I -o /dev/null "$landing"
if [ "$got" = 200 ] && grep -q '>Open the offer<' "$dir/body" && [ -f "$data/$name" ]; then
  echo "ok   landing page GET and HEAD leave the offer"
else
  fail "landing page: HTTP $got, or no button, or the offer file is gone"
fi
# Its policy: the page's own <meta>, and what only a header can carry.
policy="$(sed -n 's/.*http-equiv="Content-Security-Policy" content="\([^"]*\)".*/\1/p' \
  "$here/../../web/offer.html"); frame-ancestors 'none'"
if grep -qixF "Content-Security-Policy: $policy"$'\r' "$dir/headers"; then
  echo "ok   landing page's Content-Security-Policy"
else
  fail "landing page: no Content-Security-Policy: $policy"
fi
open_link "$link" -I
if grep -qi '^Content-type: text/html' "$dir/headers" && [ -f "$data/$name" ]; then
  echo "ok   HEAD leaves the offer"
else
  fail "HEAD: offer file gone or no Content-Type"
fi
open_link "$link"
expect "offer page" "$page"
[ -e "$data/$name" ] && fail "offer file still there"
open_link "$link"
expect "offer page again" "error on server: can't open temp file"

if [ ${#login[@]} -gt 0 ]; then
  # status LABEL EXPECTED CURL-ARGS...: the HTTP status of one request.
  status() {
    local label=$1 expected=$2 got
    shift 2
    got=$(curl -s -o "$dir/body" -w '%{http_code}' "$@")
    if [[ $got =~ ^($expected)$ ]]; then
      echo "ok   $label: $got"
    else
      fail "$label: HTTP $got, expected $expected"
    fi
  }
  printf 'c\n%s\nk1 nologin\n' "$data" >"$dir/request"
  status "create without the login" 401 --data-binary @"$dir/request" "$url"
  status "create with a wrong password" 401 -u "${login[1]%%:*}:wrong" \
    --data-binary @"$dir/request" "$url"
  # The method does not matter to the program: a GET with a body is a
  # command too, and must not slip past the login.
  status "create by GET without the login" "40[01]" -X GET \
    --data-binary @"$dir/request" "$url"
  # Only a query string that begins with the offer key makes a link.
  status "create, the offer key later in the query" 401 \
    --data-binary @"$dir/request" "$url?x&TALVENPLAN_FILE=ocz"
  [ -e "$data/nologin" ] && fail "a command without the login created a file"
  printf 's\n%s\nnobody asked' "$data" >"$dir/request"
  status "store without the login" 401 --data-binary @"$dir/request" "$url"
  offers=$(find "$data" -name '.*' -type f | wc -l)
  [ "$offers" = 0 ] || fail "a store without the login left $offers offer file(s)"
  workbench=$(cat "$dir/workbench")
  status "workbench without the login" 401 "$workbench"
  status "workbench with the login" 200 "${login[@]}" "${workbench}fixture.txt"
  # The landing page, its scripts and its catalogs are the only public
  # files of the workbench.
  status "landing page without the login" 200 "${workbench}offer.html"
  for file in js/landing_page.js js/landing.js js/i18n.js \
    $(cd "$here/../../web" && ls i18n/*.json); do
    status "landing page's $file without the login" 200 "${workbench}$file"
  done
  status "a name beside the catalogs without the login" 401 "${workbench}i18n/en.json~"
  status "workbench settings without the login" 401 "${workbench}config.js"
  status "the workbench's scripts without the login" 401 "${workbench}js/app.js"
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
