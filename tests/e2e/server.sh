#!/usr/bin/env bash
# Test fixture: starts lighttpd serving talvenplan.cgi on a free loopback port
# with a fresh document root and data directory, or stops it again. The same
# root is served under /staff/ behind HTTP basic auth (logins alice and bob,
# each its own password), for the tests of who saved what.
# Usage: server.sh start DIR PROGRAM | server.sh stop DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/lighttpd.sh"

command=$1 dir=$2
case $command in
start)
  program=$3
  if ! command -v lighttpd >/dev/null; then
    echo "end-to-end tests need lighttpd: install the Debian package 'lighttpd'" >&2
    exit 1
  fi
  if ! command -v curl >/dev/null; then
    echo "end-to-end tests need curl: install the Debian package 'curl'" >&2
    exit 1
  fi
  [ -f "$dir/lighttpd.pid" ] && kill "$(cat "$dir/lighttpd.pid")" 2>/dev/null || true
  rm -rf "$dir"
  mkdir -p "$dir/data"
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    # A port nobody answers on; lighttpd fails below if it is taken after all.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    write_lighttpd_conf "$dir" "$program" "$dir/data" "$port" 50 "alice:alice bob:bob"
    lighttpd -f "$dir/lighttpd.conf" 2>>"$dir/start.log" || continue
    for wait in $(seq 1 50); do
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        echo "$port" >"$dir/port"
        echo "lighttpd serves $dir/www on port $port"
        exit 0
      fi
      sleep 0.1
    done
    [ -f "$dir/lighttpd.pid" ] && kill "$(cat "$dir/lighttpd.pid")" 2>/dev/null || true
  done
  echo "could not start lighttpd; see $dir/start.log and $dir/error.log" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/lighttpd.pid" ]; then
    pid=$(cat "$dir/lighttpd.pid")
    kill "$pid" 2>/dev/null || true
    for wait in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || exit 0
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  ;;
*)
  echo "usage: $0 start DIR PROGRAM | stop DIR" >&2
  exit 2
  ;;
esac
