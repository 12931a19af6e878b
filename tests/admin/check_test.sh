#!/usr/bin/env bash
# talvenplan-check against data trees in known states: healthy (OK, with the
# performance data), with an offer the clean-up missed, crashed puts' files
# and versions past thresholds (WARNING, CRITICAL), names in versions
# directories that are not versions (WARNING), a directory the program may
# not write, and, as root, a full file system (CRITICAL, with the reason);
# and the listing of pending offers. The program runs directly; the package test
# runs the check through a web server and on a read-only tree.
# Usage: check_test.sh PROGRAM CLIENT
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
check=$here/../../packaging/bin/talvenplan-check
work=$(mktemp -d "${TMPDIR:-/tmp}/talvenplan-check.XXXXXX")
mounted=
trap '[ -z "$mounted" ] || umount "$mounted"; rm -rf "$work"' EXIT
chmod 0755 "$work"
# As root the program runs as nobody, so that permissions hold for it.
user=
[ "$(id -u)" = 0 ] && user=nobody
mkdir "$work/bin"
cp "$1" "$work/bin/talvenplan.cgi"
cp "$2" "$work/bin/talvenplan-client"
export PATH=$work/bin:$PATH
failures=0

# expect LABEL STATUS PATTERN ROOT [OPTIONS...]: talvenplan-check on ROOT
# ends with STATUS and its one line matches PATTERN.
expect() {
  local label=$1 status=$2 pattern=$3 root=$4 got
  shift 4
  "$check" --program "$work/bin/talvenplan.cgi" --run-as "$user" \
    --root "$root" "$@" >"$work/out" 2>&1
  got=$?
  if [ "$got" = "$status" ] && [ "$(wc -l <"$work/out")" = 1 ] &&
    grep -qE -- "$pattern" "$work/out"; then
    echo "ok   $label"
  else
    echo "FAIL $label: status $got, $(cat "$work/out")"
    failures=$((failures + 1))
  fi
}
tree() {  # tree DIR: an empty data tree the program's user owns
  mkdir -p "$1"
  [ -z "$user" ] || chown "$user" "$1"
}

tree "$work/ok"
perf='\|time=[0-9.]+s;;;0; free=[0-9.]+%;10;5;0;100 inodes=[0-9.]+%;10;5;0;100 offers=0;;;0; offer_age=0s;;;0; overdue=0;0;;0; put_files=0;0;;0;$'
expect "a healthy tree: OK, and the performance data" 0 \
  "^TALVENPLAN OK - requests answered in [0-9]+ ms; .*$perf" "$work/ok"
# offer FILE [DAY]: an offer as the workbench stages it, valid until DAY.
offer() {
  printf '<!--talvenplan-offer key=checkOfferKey0123456789%s-->\n<p>Offer</p>\n' \
    "${2:+ until=$2}" >"$1"
}
# Stored 12 days ago without a validity: due after 7, so the clean-up
# missed it. Stored 10 days ago but valid for 20 more days: pending, not
# missed. A shop's own .config is no offer, however old.
offer "$work/ok/.oldOf1"
offer "$work/ok/.longOf" "$(date -d '20 days' +%F)"
offer "$work/ok/.newOf1"
echo 'shop=north' >"$work/ok/.config"
touch -t "$(date -d '12 days ago' '+%Y%m%d%H%M')" "$work/ok/.oldOf1" "$work/ok/.put-abc123"
touch -d '10 days ago' "$work/ok/.longOf"
touch -d '30 days ago' "$work/ok/.config"
touch "$work/ok/.put-new123"
expect "an offer the clean-up missed and a crashed put's file: WARNING, both named" 1 \
  '^TALVENPLAN WARNING - offers the clean-up should have removed over 2 days ago: 1 \(warning above 0\); \.put- files left by crashed puts: 1 \(warning above 0\) \|.* offers=3;;;0; offer_age=1036[89][0-9]{2}s;;;0; overdue=1;0;;0; put_files=1;0;;0;$' \
  "$work/ok"
expect "thresholds from the options, critical over warning" 2 \
  '^TALVENPLAN CRITICAL - pending offers: 3 \(critical above 1\) \|.* offers=3;;1;0; offer_age=[0-9]+s;1382400;;0; overdue=1;5;;0; put_files=1;5;;0;' \
  "$work/ok" -w offer-age=16,overdue=5 -c offers=1 --warning put-files=5
mkdir -p "$work/ok/.versions/prices"
head -c 3145728 /dev/zero >"$work/ok/.versions/prices/20261209T045512.123456Z"
touch "$work/ok/.versions/prices/20261209T045513.000001Z"
expect "versions, once there are any: count and size" 1 \
  '^TALVENPLAN WARNING - versions: 3.0 MB \(warning above 2.5 MB\) \|.* versions=2;;;0; versions_size=3.0MB;2.5;;0;$' \
  "$work/ok" -w overdue=5,put-files=5,versions-size=2.5
# Names the program never gives there: the clean-up leaves them, the check
# names the first.
touch "$work/ok/.versions/prices/notes.txt" "$work/ok/.versions/README"
mkdir "$work/ok/.versions/prices/20261209T045514.000001Z"
expect "names in versions directories that are not versions: WARNING, the first named" 1 \
  "^TALVENPLAN WARNING - names in versions directories that are not versions: 3, the first $work/ok/.versions/README \|.* versions=2;;;0; versions_size=3.0MB;;;0;\$" \
  "$work/ok" -w overdue=5,put-files=5
rm -r "$work/ok/.versions/prices/notes.txt" "$work/ok/.versions/README" \
  "$work/ok/.versions/prices/20261209T045514.000001Z"
listing=$("$check" --offers --root "$work/ok")
if [ "$listing" = "$(printf ' 12d 00h  %s  .oldOf1\n 10d 00h  %s  .longOf\n  0d 00h  %s  .newOf1' "$work/ok" "$work/ok" "$work/ok")" ]; then
  echo "ok   --offers lists the pending offers, oldest first"
else
  echo "FAIL --offers lists: $listing"
  failures=$((failures + 1))
fi
expect "an unknown threshold: UNKNOWN" 3 "^TALVENPLAN UNKNOWN - size=1: no threshold named 'size'" \
  "$work/ok" -w size=1

tree "$work/shut"
mkdir -m 0555 "$work/shut/.talvenplan-check"
[ -z "$user" ] || chown "$user" "$work/shut/.talvenplan-check"
expect "a scratch directory the program may not write: CRITICAL" 2 \
  "^TALVENPLAN CRITICAL - create: the server failed: can't open database on server \|" \
  "$work/shut"

if [ -n "$user" ]; then
  mounted=$work/full
  mkdir "$mounted"
  if mount -t tmpfs -o size=256k tmpfs "$mounted"; then
    tree "$mounted"
    head -c 1048576 /dev/zero >"$mounted/fill" 2>/dev/null
    expect "a full tree: CRITICAL, with the failed request and the space" 2 \
      "^TALVENPLAN CRITICAL - create: the server failed: can't write on database; 0.0% of the space free, 0 MB \(critical below 5%\) \|" \
      "$mounted"
    umount "$mounted"
  fi
  mounted=
else
  echo "skipped: a full tree (needs root to mount a tmpfs)"
fi
[ "$failures" = 0 ]
