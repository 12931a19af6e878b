#!/usr/bin/env bash
# Offer link requests through the web server snippets (conf/). A link needs no login, so
# whatever a link request carries anyone can send: the server must refuse
# what the program has no use for before it starts (a body, another method
# than GET and HEAD), send the headers that keep the offer from running
# anything, and keep the link out of the access log. nginx must also limit
# guesses. Apache must ask for a length rather than pass a chunked command
# on without one.
# Usage: links_test.sh SERVER STATE   (STATE as given to server.sh start)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
server=$1 state=$2
url=$(cat "$state/url") data=$(cat "$state/datadir") login=$(cat "$state/login")
root=$(cat "$state/root")
authority=${url#http://} && authority=${authority%%/*}
path=/${url#http://*/}
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
ok() { echo "ok   $*"; }

# stage TEXT: stages an offer and prints its name.
stage() {
  local answer
  answer=$(printf 's\n%s\n%s' "$data" "$1" |
    curl -s -u "$login" --data-binary @- "$url")
  [[ $answer =~ ^s(\.[A-Za-z0-9]{6})$ ]] || return 1
  echo "${BASH_REMATCH[1]}"
}
link_of() { "$here/../../scripts/offer-link" "$1" "$data"; }

# status EXPECTED LABEL CURL-ARGS...: one request's HTTP status.
status() {
  local expected=$1 label=$2 got
  shift 2
  got=$(curl -s -o "$state/body" -D "$state/headers" -w '%{http_code}' "$@")
  if [[ $got =~ ^($expected)$ ]]; then
    ok "$label: $got"
  else
    fail "$label: HTTP $got, expected $expected"
  fi
}

# head_only HEADER QUERY: sends the head of a POST that announces a body
# with HEADER, but none of the body, and prints the status line of the
# answer. A server that reads the body before it answers gets none and
# waits for it; only then does the time limit end the wait.
head_only() {
  local line=
  exec 3<>"/dev/tcp/${authority%:*}/${authority#*:}" || return 1
  printf 'POST %s?%s HTTP/1.1\r\nHost: %s\r\n%s\r\nConnection: close\r\n\r\n' \
    "$path" "$2" "$authority" "$1" >&3
  read -r -t 60 line <&3
  exec 3<&-
  printf '%s' "${line%$'\r'}"
}

name=$(stage '<p>Kept for its customer</p>') || { fail "could not stage an offer"; exit 1; }
link=$(link_of "$name")

# Bodies and methods: refused before the program starts, so the offer stays.
for header in "Content-Length: 67108864" "Transfer-Encoding: chunked"; do
  line=$(head_only "$header" "$link")
  if [[ $line =~ ^HTTP/1\.[01]\ (405|413) ]]; then
    ok "a link request announcing a body ($header) is refused unread: $line"
  else
    fail "a link request announcing a body ($header) got '$line' before its body"
  fi
done
head -c $((8 << 20)) /dev/zero >"$state/big"
status 413 "POST of 8 MiB to a link" --data-binary @"$state/big" "$url?$link"
status "405|413" "chunked PUT to a link" -X PUT -H 'Transfer-Encoding: chunked' \
  --data-binary @"$state/big" "$url?$link"
# lighttpd itself answers 400 to a GET with a body.
status "400|413" "GET with a body to a link" -X GET --data-binary x "$url?$link"
status 405 "POST without a body to a link" -X POST -H 'Content-Length: 0' "$url?$link"
# Over HTTP/2 a body needs no length. Where the server speaks it (lighttpd
# does, in the clear, unasked), a big one must be refused too: lighttpd
# learns the limit only once it has read what came with the headers, so
# the answer may also be a reset stream (000).
if curl -s -o /dev/null --http2-prior-knowledge -I "$url?$link"; then
  status "413|000" "GET of 8 MiB without a length over HTTP/2" \
    --http2-prior-knowledge -X GET -H 'Content-Length:' \
    --data-binary @"$state/big" "$url?$link"
fi
status 405 "DELETE of a link" -X DELETE "$url?$link"
[ -f "$data/$name" ] || fail "a refused link request used up the offer"

# What the answer lets the offer do; the page itself is as before.
csp="sandbox; default-src 'none'; style-src 'unsafe-inline'; img-src data:"
mark="links-test-$$"
check_headers() {  # LABEL: the last answer's headers
  if ! grep -qixF "Content-Security-Policy: $csp"$'\r' "$state/headers"; then
    fail "$1: no Content-Security-Policy: $csp"
  elif ! grep -qixF $'Referrer-Policy: no-referrer\r' "$state/headers"; then
    fail "$1: no Referrer-Policy: no-referrer"
  else
    ok "$1: Content-Security-Policy and Referrer-Policy"
  fi
}
status 200 "HEAD of the link" -I "$url?$link"
check_headers "HEAD of the link"
status 200 "GET of the link" -A "$mark" "$url?$link"
check_headers "GET of the link"
if grep -qF 'Kept for its customer' "$state/body" && [ ! -e "$data/$name" ]; then
  ok "the page shows the offer, which is then gone"
else
  fail "the page: $(head -c 300 "$state/body")"
fi

# The access log has the link's request, without its query. The line may
# be written after the answer: wait for it.
log=$root/logs/access.log
for _ in $(seq 1 300); do
  grep -qF "$mark" "$log" 2>/dev/null && break
  sleep 0.1
done
if ! grep -qF "$mark" "$log" 2>/dev/null; then
  fail "the access log has no line for the link's request"
elif grep -F "$mark" "$log" | grep -qF "${link%%z*}"; then
  fail "the access log holds the link: $(grep -F "$mark" "$log")"
else
  ok "the access log has the link's request, without the link"
fi

# Guessing: from an address of its own, a burst of link requests is let
# through and then refused. The limit lets 21 through at once, then 10 a
# minute: only a machine that took two minutes for 20 more requests could
# see no refusal.
if [ "$server" = nginx ]; then
  guess=TALVENPLAN_FILE=ocbgbgbgbgbgbgzz
  refused_at=
  for n in $(seq 1 41); do
    got=$(curl -s -o /dev/null -w '%{http_code}' --interface 127.0.0.3 "$url?$guess")
    if [ "$got" = 429 ]; then refused_at=$n; break; fi
  done
  if [ -z "$refused_at" ]; then
    fail "41 link requests from one address, none refused"
  elif [ "$refused_at" -le 21 ]; then
    fail "link request $refused_at from one address refused: the limit allows 21 at once"
  else
    ok "link request $refused_at from one address answered 429"
  fi
fi

# The customer's answer: as public as the link, but only a POST of a short
# form, and refused unread beyond 4 KiB.
key=aB3_-dE9fG0hIjKlMnOpQr
answered=$(stage "<!--talvenplan-offer key=$key answer=1-->
<p>Answered by its customer</p>
") || fail "could not stage an offer with an answer slot"
answer_query=$(link_of "$answered") && answer_query=TALVENPLAN_ANSWER=${answer_query#TALVENPLAN_FILE=}
hash=$(printf '<p>Answered by its customer</p>\n' | sha256sum | cut -c1-64)
form="decision=accept&name=Anna+Virtanen&message=&sha256=$hash"
curl -s -o /dev/null "$url?$(link_of "$answered")"  # the customer opens it
line=$(head_only "Content-Length: 5000" "$answer_query")
if [[ $line =~ ^HTTP/1\.[01]\ 413 ]]; then
  ok "an answer announcing 5000 bytes is refused unread: $line"
else
  fail "an answer announcing 5000 bytes got '$line' before its body"
fi
status 413 "an answer of 8 MiB" --data-binary @"$state/big" "$url?$answer_query"
status 405 "a GET of the answer's address" "$url?$answer_query"
status "405|413" "a chunked PUT of an answer" -X PUT -H 'Transfer-Encoding: chunked' \
  --data-binary "$form" "$url?$answer_query"
status 200 "a guessed answer's address" --data-binary "$form" \
  "$url?TALVENPLAN_ANSWER=ocbgbgbgbgbgbgzz"
grep -qx "error on server: offer takes no answer" "$state/body" ||
  fail "a guessed answer's address: $(cat "$state/body")"
[ -e "$data/$answered.answer" ] && fail "a refused answer was written"
status 200 "the answer, without a login" -A "$mark-answer" --data-binary "$form" "$url?$answer_query"
if grep -qx "decision accept" "$state/body" && grep -qx "matched yes" "$state/body"; then
  ok "the answer is taken, and the hash matches"
else
  fail "the answer: $(head -c 300 "$state/body")"
fi
grep -qixF "Content-Security-Policy: sandbox; default-src 'none'"$'\r' "$state/headers" ||
  fail "the answer: no Content-Security-Policy"
status 200 "a second answer" --data-binary "${form/accept/decline}" "$url?$answer_query"
grep -qx "error on server: offer already answered" "$state/body" ||
  fail "a second answer: $(cat "$state/body")"
grep -qx "decision accept" "$data/$answered.answer" || fail "the first answer was not kept"
for _ in $(seq 1 300); do
  grep -qF "$mark-answer" "$log" 2>/dev/null && break
  sleep 0.1
done
if grep -F "$mark-answer" "$log" | grep -qF TALVENPLAN_ANSWER; then
  fail "the access log holds the answer's query"
fi
rm -f "$data/$answered".*

# A chunked command: lighttpd and nginx pass it on with its length, Apache
# is to ask for a length (411) instead of running the program without one.
printf 'l\n%s\n' "$data" >"$state/request"
if [ "$server" = apache ]; then
  status 411 "chunked command" -u "$login" -H 'Transfer-Encoding: chunked' \
    --data-binary @"$state/request" "$url"
else
  status 200 "chunked command" -u "$login" -H 'Transfer-Encoding: chunked' \
    --data-binary @"$state/request" "$url"
  [ "$(head -c1 "$state/body")" = s ] || fail "chunked command: $(cat "$state/body")"
fi

rm -f "$state/big" "$data/$name"
echo "$failures failure(s)"
[ "$failures" = 0 ]
