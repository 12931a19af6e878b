#!/usr/bin/env bash
# The HTTPS snippets as a server serves them (server.sh start SERVER-https):
# the login over TLS with the certificate made for the test, HSTS on every
# answer over HTTPS, plain HTTP redirected with the path and query string
# kept, except the ACME client's challenges; the page's settings through
# their link. For nginx, whose HTTPS snippet is a whole site, also that it
# serves the same locations as the plain one.
# Usage: tls_test.sh STATE [SOURCE_DIR]
set -uo pipefail
state=$1
top=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
url=$(cat "$state/url") http_url=$(cat "$state/http_url")
workbench=$(cat "$state/workbench") login=$(cat "$state/login")
data=$(cat "$state/datadir")
export CURL_HOME=$state  # its .curlrc trusts the certificate
failures=0 verified=

check() {  # check LABEL COMMAND...
  local label=$1
  shift
  if "$@"; then
    echo "ok   $label"
  else
    echo "FAIL $label"
    failures=$((failures + 1))
  fi
}
# answer CURL-ARGUMENTS...: the status, headers and body in $state/tls-*.
answer() {
  curl -s -D "$state/tls-headers" -o "$state/tls-body" \
    -w '%{http_code} %{ssl_verify_result}' "$@" >"$state/tls-status"
}
is() {  # is LABEL STATUS CURL-ARGUMENTS...
  local label=$1 want=$2
  shift 2
  answer "$@"
  read -r got verified <"$state/tls-status"
  if [ "$got" != "$want" ]; then
    echo "  $label: HTTP $got, expected $want"
    return 1
  fi
}
header() { grep -qi "^$1: $2"$'\r'"\?$" "$state/tls-headers"; }
hsts() { header Strict-Transport-Security 'max-age=[0-9]*'; }

list=$'l\n'"$data"$'\n'
check "a command over HTTPS without the login is refused" \
  is "no login" 401 --data-binary "$list" "$url"
check "a command over HTTPS with the login is answered" \
  is login 200 -u "$login" --data-binary "$list" "$url"
check "the certificate made for the test was verified" test "$verified" = 0
check "the answer sends HSTS" hsts
check "the workbench over HTTPS, with HSTS" \
  eval 'is workbench 200 -u "$login" "$workbench" && hsts'
check "the page's settings through their link" \
  eval 'is config.js 200 -u "$login" "${workbench}config.js" &&
    grep -q "export default" "$state/tls-body"'

name=$(curl -s -u "$login" --data-binary $'s\n'"$data"$'\n<p>TLS offer</p>' "$url")
query=$("$top/scripts/offer-link" "${name#s}" "$data")
check "plain HTTP of an offer link is redirected, query string kept" \
  eval 'is redirect 308 "$http_url?$query" &&
    header Location "${url//./\\.}?$query"'
check "the offer link opens over HTTPS without a login, with HSTS" \
  eval 'is offer 200 "$url?$query" && grep -q "TLS offer" "$state/tls-body" && hsts'
check "a command over plain HTTP is redirected, method kept (308)" \
  eval 'is "redirected command" 308 -u "$login" --data-binary "$list" "$http_url"'
check "the ACME client's challenge is served over plain HTTP" \
  eval 'is acme 200 "${http_url%/talvenplan/talvenplan.cgi}/.well-known/acme-challenge/token" &&
    grep -qx "acme token" "$state/tls-body"'

if [ -f "$state/root" ] && grep -q nginx "$state/root"; then
  # The HTTPS site is the plain one with TLS added: the same maps and
  # locations, line for line (comments and blank lines aside; HSTS may
  # stand in a location that has an add_header of its own).
  strip() { grep -vE '^[[:space:]]*(#|$)' "$1"; }
  plain=$(strip "$top/conf/nginx/talvenplan.conf" | grep -vx '  listen 80;')
  https=$(strip "$top/conf/nginx/talvenplan-ssl.conf" | awk '
    /^server \{/ { servers++ }
    servers == 1 { if (/^\}/) servers++; next }
    /^  (listen 443 ssl;|ssl_certificate |ssl_certificate_key )/ { next }
    /^ +add_header Strict-Transport-Security / { next }
    { print }')
  check "nginx: the HTTPS site serves the plain site's locations" \
    eval 'diff <(printf "%s\n" "$plain") <(printf "%s\n" "$https")'
fi

[ "$failures" = 0 ]
