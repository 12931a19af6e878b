#!/usr/bin/env bash
# The daily clean-up against data trees in known states: what it removes,
# keeps, and leaves alone as not the program's (a shop's own files named
# like offers among them), by the table below; the sums its report gives;
# the time stamp a run leaves; that --list removes nothing; and that a bad
# setting removes nothing.
# Usage: cleanup_test.sh   (the arguments the other admin tests take are
# not needed)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cleanup=$here/../../packaging/bin/talvenplan-cleanup
work=$(mktemp -d "${TMPDIR:-/tmp}/talvenplan-cleanup.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# TREE   week: offers 7 days, grace 7 days, versions 90 days. now: offers 0
#        days, grace 0: a withdrawal's time is the inode's change time,
#        which no test can set back, so there withdrawn offers are due at
#        once.
# FILE   in the tree's directory shop; a trailing / makes a directory; @Nd
#        stands for the stamp of N days ago.
# MARK   mark: it carries store's mark.
# FIRST  its first line: line, an offer line; until:N, one valid until N days
#        from today (UTC), or until:DAY; like, an offer line but for a key
#        too short; asks:N, one valid until N days from today that takes an
#        answer; -, plain text. An answer file's whole text: slot, a
#        slot without until, slot:N one with; opened; answer; told.
# AGE    its modification time: N days (Nd) or hours (Nh) ago, or now.
# EXPECT removed; kept; left: kept, and reported as not the program's.
cases='
week | .backup                      | -    | -                | 400d | left
week | .config                      | -    | -                | 400d | left
week | .bashrc                      | -    | -                | 400d | left
week | .mUnt01                      | mark | until:-20        | 30d  | removed
week | .mUnt02                      | mark | until:-3         | 30d  | kept
week | .mUnt03                      | mark | until:20         | 30d  | kept
week | .mOld01                      | mark | -                | 8d   | removed
week | .mNew01                      | mark | -                | 6d   | kept
week | .lOld01                      | -    | line             | 8d   | removed
week | .lNew01                      | -    | line             | 6d   | kept
week | .lUnt01                      | -    | until:-20        | 30d  | removed
week | .lUnt02                      | -    | until:1          | 30d  | kept
week | .lBad01                      | -    | until:2026-02-30 | 8d   | removed
week | .lAsk01                      | -    | asks:-20         | 30d  | removed
week | .lAsk02                      | -    | asks:3           | 30d  | kept
week | .nOld01                      | -    | -                | 30d  | left
week | .nOld02                      | -    | like             | 30d  | left
week | .wNew01.withdrawn            | mark | line             | 30d  | kept
week | .put-abc123                  | -    | -                | 2h   | removed
week | .put-new123                  | -    | -                | now  | kept
week | prices                       | -    | -                | 400d | kept
week | .versions/prices/            | -    | -                | 100d | kept
week | .versions/prices/@100d       | -    | -                | 100d | kept
week | .versions/prices/.mOld02     | mark | line             | 30d  | kept
week | .versions/gone/              | -    | -                | 100d | removed
week | .versions/gone/@200d         | -    | -                | 200d | removed
week | .versions/tools @100d/       | -    | -                | 100d | removed
week | .versions/tools @100d/@120d  | -    | -                | 120d | removed
week | .versions/cart @10d/         | -    | -                | 100d | kept
week | .versions/cart @10d/@20d     | -    | -                | 20d  | kept
week | .versions/old/               | -    | -                | 100d | kept
week | .versions/old/@200d          | -    | -                | 200d | removed
week | .versions/old/notes.txt      | -    | -                | 200d | left
week | .versions/old/.mOld03        | mark | line             | 200d | left
week | .versions/README             | -    | -                | 400d | left
week | .aSlt01.slot                 | -    | slot:-20         | 30d  | removed
week | .aSlt01.opened               | -    | opened           | 30d  | removed
week | .aSlt01.answer               | -    | answer           | 29d  | removed
week | .aSlt01.told                 | -    | told             | 29d  | removed
week | .aSlt02.slot                 | -    | slot:-20         | 30d  | kept
week | .aSlt02.answer               | -    | answer           | 3d   | kept
week | .aSlt02.told                 | -    | told             | 3d   | kept
week | .aSlt03.slot                 | -    | slot:3           | 30d  | kept
week | .aSlt03.opened               | -    | opened           | 1d   | kept
week | .aSlt04.slot                 | -    | slot             | 8d   | removed
week | .aSlt04.told                 | -    | told             | 1d   | removed
week | .aSlt04.opened               | -    | -                | 30d  | left
week | .aSlt05.slot                 | -    | slot             | 6d   | kept
week | .aFor01.slot                 | -    | -                | 400d | left
week | .aFor01.told                 | -    | -                | 400d | left
week | .aOrp01.answer               | -    | answer           | 8d   | removed
week | .aOrp01.opened               | -    | opened           | 6d   | kept
now  | .wOld01.withdrawn            | mark | -                | now  | removed
now  | .wOld02.withdrawn            | -    | line             | now  | removed
now  | .wOld03.withdrawn            | -    | -                | now  | left
now  | .backup                      | -    | -                | now  | left
now  | .lUnt03                      | -    | until:0          | now  | kept
now  | .lUnt04                      | -    | until:-2         | now  | removed
'
# The sums each tree's report gives for the table.
declare -A sums=(
  [week]="removed 6 offers, 0 withdrawn offers, 7 answer files, 1 .put- file and the versions of 3 removed lists; kept 6 offers, 1 withdrawn offer, 7 answer files, 1 .put- file and the versions of 1 removed list; left alone 11 files that are not the program's"
  [now]="removed 1 offer, 2 withdrawn offers, 0 .put- files and the versions of 0 removed lists; kept 1 offer, 0 withdrawn offers, 0 .put- files and the versions of 0 removed lists; left alone 2 files that are not the program's"
)
printf 'TALVENPLAN_OFFER_DAYS=7\nTALVENPLAN_OFFER_GRACE_DAYS=7\nTALVENPLAN_VERSION_DAYS=90\n' \
  >"$work/week.settings"
printf 'TALVENPLAN_OFFER_DAYS=0\nTALVENPLAN_OFFER_GRACE_DAYS=0\nTALVENPLAN_VERSION_DAYS=90\n' \
  >"$work/now.settings"

# talvenplan-check's directory, where a run leaves its time stamp.
mkdir -p "$work/week/.talvenplan-check"

# Where the file system holds no user extended attributes, offers known
# by store's mark alone cannot be made here.
marks=yes
touch "$work/probe"
if ! setfattr -n user.talvenplan -v offer "$work/probe" 2>/dev/null; then
  marks=
  echo "skipped: the rows with store's mark, and the sums" \
    "(the file system of $work holds no user extended attributes)"
fi

path() {  # path TREE FILE: the row's path, its stamps filled in
  local file=$2
  while [[ $file =~ @([0-9]+)d ]]; do
    file=${file/"${BASH_REMATCH[0]}"/$(date -u -d "${BASH_REMATCH[1]} days ago" +%Y%m%dT%H%M%S.000000Z)}
  done
  echo "$work/$1/shop/$file"
}
content() {  # content FIRST: the row's text
  local day asks
  case $1 in
  slot*)
    printf 'talvenplan-slot 1\nkey aB3dE9fG1hJ2kL4mN5pQ6r\n'
    [ "$1" = slot ] || echo "until $(date -u -d "${1#slot:} days" +%F)"
    printf 'sha256 %064d\nstaged 2026-12-09T17:13:05.123456Z\n' 0
    return
    ;;
  opened) echo 'opened 2026-12-09T18:00:00.000001Z'; return ;;
  answer)
    printf 'talvenplan-answer 1\ndecision accept\nname Anna\nmessage \n'
    return
    ;;
  told) printf 'opened\naccepted\n'; return ;;
  line) echo '<!--talvenplan-offer key=aB3dE9fG1hJ2kL4mN5pQ6r-->' ;;
  like) echo '<!--talvenplan-offer key=aB3dE9-->' ;;
  until:* | asks:*)
    day=${1#*:} asks=
    [[ $1 == asks:* ]] && asks=' answer=1'
    [[ $day =~ ^-?[0-9]+$ ]] && day=$(date -u -d "$day days" +%F)
    echo "<!--talvenplan-offer key=aB3dE9fG1hJ2kL4mN5pQ6r until=$day$asks-->"
    ;;
  *) echo 'shop=north' ;;
  esac
  echo '<p>Winter offer</p>'
}
rows=()
while IFS='|' read -r tree file mark line age expect; do
  [ -n "$tree" ] || continue
  [ "$mark" = mark ] && [ -z "$marks" ] && continue
  rows+=("$(path "$tree" "$file")|$mark|$line|$age|$expect")
done < <(sed -E 's/ *\| */|/g; s/ +$//' <<<"$cases")

# Every file first, then the ages: making a file changes its directory's.
for row in "${rows[@]}"; do
  IFS='|' read -r file mark line age expect <<<"$row"
  case $file in
  */) mkdir -p "$file" ;;
  *)
    mkdir -p "${file%/*}"
    content "$line" >"$file"
    [ "$mark" != mark ] || setfattr -n user.talvenplan -v offer "$file"
    ;;
  esac
done
for row in "${rows[@]}"; do
  IFS='|' read -r file mark line age expect <<<"$row"
  case $age in
  now) touch "$file" ;;
  *d) touch -d "${age%d} days ago" "$file" ;;
  *h) touch -d "${age%h} hours ago" "$file" ;;
  esac
done

# run TREE [OPTIONS...]: the clean-up of TREE with its settings; its report
# in $work/TREE.report.
run() {
  local tree=$1
  shift
  sh "$cleanup" --root "$work/$tree" --settings "$work/$tree.settings" "$@" \
    >"$work/$tree.report" 2>"$work/$tree.errors"
}
# A bad setting stops the clean-up before it removes anything; --list
# removes nothing either.
for setting in TALVENPLAN_OFFER_GRACE_DAYS=14d TALVENPLAN_OFFER_DAYS=999999 \
  TALVENPLAN_VERSION_DAYS=; do
  cp "$work/week.settings" "$work/bad.settings"
  echo "$setting" >>"$work/bad.settings"
  sh "$cleanup" --root "$work/week" --settings "$work/bad.settings" --print \
    >/dev/null 2>"$work/errors"
  status=$?
  if [ "$status" != 2 ] ||
    ! grep -qF "${setting%%=*} must be a number of days" "$work/errors"; then
    fail "$setting: status $status, $(cat "$work/errors")"
  fi
done
run week --list || fail "--list ended with status $?: $(cat "$work/week.errors")"
grep -q '^remove offer ' "$work/week.report" || fail "--list lists no offer to remove"
for row in "${rows[@]}"; do
  file=${row%%|*}
  [ -e "$file" ] || fail "--list or a bad setting removed $file"
done
[ -e "$work/week/.talvenplan-check/.cleanup" ] &&
  fail "--list or a bad setting left the clean-up's time stamp"
[ "$failures" = 0 ] && echo "ok   a bad setting or --list removes nothing, and leaves no time stamp"

for tree in week now; do
  run "$tree" --print || fail "the clean-up of $tree ended with status $?: $(cat "$work/$tree.errors")"
  [ -s "$work/$tree.errors" ] && fail "the clean-up of $tree said: $(cat "$work/$tree.errors")"
done
[ -f "$work/week/.talvenplan-check/.cleanup" ] ||
  fail "the clean-up left no time stamp for talvenplan-check"
before=$failures
for row in "${rows[@]}"; do
  IFS='|' read -r file mark line age expect <<<"$row"
  if [ -e "$file" ]; then got=kept; else got=removed; fi
  [ "$expect" = left ] && [ "$got" = kept ] && got=left
  [ "$got" = "$expect" ] || fail "${file#"$work"/} ($mark, $line, $age): $got, not $expect"
done
[ "$failures" = "$before" ] && echo "ok   ${#rows[@]} files and directories removed, kept and left alone by the table"

if [ -n "$marks" ]; then
  for tree in week now; do
    expected="clean-up $work/$tree/shop: ${sums[$tree]}"
    grep -qxF "$expected" "$work/$tree.report" ||
      fail "the report of $tree: $(cat "$work/$tree.report"), not: $expected"
    grep -qF "clean-up of $work/$tree: ${sums[$tree]} in 1 directory (" "$work/$tree.report" ||
      fail "the sums of $tree: $(tail -n 1 "$work/$tree.report")"
  done
  [ "$failures" = 0 ] && echo "ok   the report's sums"
fi
[ "$failures" = 0 ]
