#!/usr/bin/env bash
# talvenplan-check against data trees in known states: healthy (OK, with the
# performance data), with an offer the clean-up missed, crashed puts' files
# and versions past thresholds (WARNING, CRITICAL), names in versions
# directories that are not versions (WARNING), a clean-up that has not run
# lately or never (WARNING), directories saves can't write (CRITICAL), and,
# as root, a full file system (CRITICAL, with the reason); the listing of
# pending offers; and, as root, that the options which choose what runs are
# refused. The program runs directly; the package test runs the check
# through a web server, through sudo, on a read-only tree and on a shop with
# a file system of its own.
# Usage: check_test.sh PROGRAM CLIENT
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
check=$here/../../packaging/bin/talvenplan-check
work=$(mktemp -d "${TMPDIR:-/tmp}/talvenplan-check.XXXXXX")
mounted=
trap '[ -z "$mounted" ] || umount "$mounted"; rm -rf "$work"' EXIT
chmod 0755 "$work"
# As root the check runs as nobody, so that permissions hold for it and
# --program is its to give.
user='' as=()
if [ "$(id -u)" = 0 ]; then
  user=nobody
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
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
  "${as[@]}" env PATH="$PATH" "$check" --program "$work/bin/talvenplan.cgi" \
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
tree() {  # tree DIR: an empty data tree the program's user owns, just cleaned up
  mkdir -p "$1/.talvenplan-check"
  touch "$1/.talvenplan-check/.cleanup"
  [ -z "$user" ] || chown -R "$user" "$1"
}

tree "$work/ok"
perf='\|time=[0-9.]+s;;;0; free=[0-9.]+%;10;5;0;100 free_mb=[0-9]+MB;;;0; inodes=[0-9.]+%;10;5;0;100 offers=0;;;0; offer_age=0s;;;0; overdue=0;0;;0; put_files=0;0;;0; cleanup_age=[0-9]s;172800;;0;$'
expect "a healthy tree: OK, and the performance data" 0 \
  "^TALVENPLAN OK - requests answered in [0-9]+ ms; [0-9.]+% of the space and [0-9.]+% of the inodes free; pending offers: 0; .put- files left: 0; the clean-up last ran 0.0 days ago $perf" "$work/ok"
# The clean-up's time stamp: old, or none at all.
touch -d '3 days ago' "$work/ok/.talvenplan-check/.cleanup"
expect "a clean-up 3 days ago: WARNING" 1 \
  '^TALVENPLAN WARNING - the clean-up last ran 3.0 days ago \(warning above 2 days\) \|.* cleanup_age=2592[0-9]{2}s;172800;;0;$' \
  "$work/ok"
rm "$work/ok/.talvenplan-check/.cleanup"
expect "no clean-up ever, with a critical threshold: CRITICAL" 2 \
  "^TALVENPLAN CRITICAL - the clean-up has never run: no $work/ok/.talvenplan-check/.cleanup \\|.* put_files=0;0;;0;\$" \
  "$work/ok" -c cleanup=3
tree "$work/ok"
# Space thresholds in MB as well as in percent, against the tree's own.
expect "less space free than a threshold in MB: WARNING, with both figures" 1 \
  '^TALVENPLAN WARNING - [0-9.]+% of the space free, [0-9]+ MB \(warning below 99999999 MB\) \|.* free_mb=[0-9]+MB;99999999;;0; ' \
  "$work/ok" -w free-mb=99999999
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
# An offer's answer files, as old: neither offers nor anything to warn of.
printf 'talvenplan-slot 1\nkey checkOfferKey0123456789\nsha256 %064d\nstaged 2026-12-09T17:13:05.123456Z\n' 0 \
  >"$work/ok/.oldOf2.slot"
echo 'opened 2026-12-09T18:00:00.000001Z' >"$work/ok/.oldOf2.opened"
echo opened >"$work/ok/.oldOf2.told"
touch -t "$(date -d '12 days ago' '+%Y%m%d%H%M')" "$work/ok/.oldOf1" "$work/ok/.put-abc123" \
  "$work/ok/.oldOf2".*
touch -d '10 days ago' "$work/ok/.longOf"
touch -d '30 days ago' "$work/ok/.config"
touch "$work/ok/.put-new123"
expect "an offer the clean-up missed and a crashed put's file: WARNING, both named" 1 \
  '^TALVENPLAN WARNING - offers the clean-up should have removed over 2 days ago: 1 \(warning above 0\); \.put- files left by crashed puts: 1 \(warning above 0\) \|.* offers=3;;;0; offer_age=1036[89][0-9]{2}s;;;0; overdue=1;0;;0; put_files=1;0;;0; cleanup_age=[0-9]+s;172800;;0;$' \
  "$work/ok"
expect "thresholds from the options, critical over warning" 2 \
  '^TALVENPLAN CRITICAL - pending offers: 3 \(critical above 1\) \|.* offers=3;;1;0; offer_age=[0-9]+s;1382400;;0; overdue=1;5;;0; put_files=1;5;;0;' \
  "$work/ok" -w offer-age=16,overdue=5 -c offers=1 --warning put-files=5
mkdir -p "$work/ok/.versions/prices"
head -c 3145728 /dev/zero >"$work/ok/.versions/prices/20261209T045512.123456Z"
touch "$work/ok/.versions/prices/20261209T045513.000001Z"
[ -z "$user" ] || chown -R "$user" "$work/ok/.versions"
expect "versions, once there are any: count and size" 1 \
  '^TALVENPLAN WARNING - versions: 3.0 MB \(warning above 2.5 MB\) \|.* cleanup_age=[0-9]+s;172800;;0; versions=2;;;0; versions_size=3.0MB;2.5;;0;$' \
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
listing=$("${as[@]}" "$check" --offers --root "$work/ok")
if [ "$listing" = "$(printf ' 12d 00h  %s  .oldOf1\n 10d 00h  %s  .longOf\n  0d 00h  %s  .newOf1' "$work/ok" "$work/ok" "$work/ok")" ]; then
  echo "ok   --offers lists the pending offers, oldest first"
else
  echo "FAIL --offers lists: $listing"
  failures=$((failures + 1))
fi
expect "an unknown threshold: UNKNOWN" 3 "^TALVENPLAN UNKNOWN - size=1: no threshold named 'size'" \
  "$work/ok" -w size=1

tree "$work/shut"
chmod 0555 "$work/shut/.talvenplan-check"
expect "a scratch directory the program may not write: CRITICAL" 2 \
  "^TALVENPLAN CRITICAL - create: the server failed: can't open database on server \|" \
  "$work/shut"
chmod 0755 "$work/shut/.talvenplan-check"
# Saves fail in a shop the program may not write, or whose versions it may
# not add to, while the check's own directory takes its requests.
tree "$work/shops"
for shop in north south; do
  mkdir -p "$work/shops/$shop/.versions/prices"
  printf 'k1\n0\n0\n""\n0\n0\n0\n' >"$work/shops/$shop/prices"
done
[ -z "$user" ] || chown -R "$user" "$work/shops"
chmod 0555 "$work/shops/south" "$work/shops/north/.versions/prices"
expect "shops where saves fail: CRITICAL, with their count and the first" 2 \
  "^TALVENPLAN CRITICAL - directories where saves fail, as ${user:-$(id -un)} may not write them: 2, the first $work/shops/north/.versions/prices \\|" \
  "$work/shops"
chmod 0755 "$work/shops/south" "$work/shops/north/.versions/prices"
expect "the same shops, writable again: OK, and the check left no file there" 0 \
  '^TALVENPLAN OK ' "$work/shops"
if [ "$(find "$work/shops" -name '.put-*' | wc -l)" = 0 ]; then
  echo "ok   the check's own files in the shops are gone"
else
  echo "FAIL the check left files in the shops: $(find "$work/shops" -name '.put-*')"
  failures=$((failures + 1))
fi

if [ -n "$user" ]; then
  mounted=$work/full
  mkdir "$mounted"
  if mount -t tmpfs -o size=256k tmpfs "$mounted"; then
    tree "$mounted"
    head -c 1048576 /dev/zero >"$mounted/fill" 2>/dev/null
    chown "$user" "$mounted/fill"
    expect "a full tree: CRITICAL, with the failed request and the space" 2 \
      "^TALVENPLAN CRITICAL - create: the server failed: can't write on database; 0.0% of the space free, 0 MB \(critical below 5%\) \|" \
      "$mounted"
    umount "$mounted"
  fi
  mounted=
  # As root the check chooses what it runs: nobody else does.
  for option in --program --root --dir; do
    "$check" "$option" "$work/bin/talvenplan.cgi" >"$work/out" 2>&1
    status=$?
    if [ "$status" = 3 ] && grep -q "^TALVENPLAN UNKNOWN - $option is refused when run as root" "$work/out"; then
      echo "ok   as root, $option is refused"
    else
      echo "FAIL as root, $option: status $status, $(cat "$work/out")"
      failures=$((failures + 1))
    fi
  done
else
  echo "skipped: a full tree and the options refused to root (need root)"
fi
[ "$failures" = 0 ]
