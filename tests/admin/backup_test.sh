#!/usr/bin/env bash
# The backup of doc/install.md, taken while the site writes: tar copies a data tree while
# a loop of puts runs through the program. Each copy must end with status 0
# and be readable by its owner alone, and every database in every archive
# must be one whole version that some put wrote. The guide's restore then puts
# the last archive in place of the tree, which is a mount point of its own
# (as root), and the tree must hold what the archive holds and serve it
# (listed, read back and written through the program), an offer with
# store's mark. The copies are counted, and the puts go on until the last
# copy is done: every copy is taken while puts run.
# Usage: backup_test.sh PROGRAM CLIENT
set -uo pipefail
program=$1 client=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/talvenplan-backup.XXXXXX")
loop='' mounted=''
trap '[ -z "$loop" ] || kill "$loop" 2>/dev/null
  [ -z "$mounted" ] || umount "$mounted"; rm -rf "$work"' EXIT
tree=$work/srv/talvenplan
mkdir -p "$tree"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=256m tmpfs "$tree"; then
  mounted=$tree
else
  echo "skipped: a tree that is a mount point of its own (needs root)"
fi
mkdir -p "$tree/north" "$tree/south"
databases="north/prices north/tools south/prices"
copies=20
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

tp() { TALVEN_ROOT=$tree "$client" --local "$program" "$@"; }
# version NAME N: the text put N writes to NAME. Versions differ in length
# (from 30 to 2,400 lines), so half of one and half of another is no version.
version() {
  local lines=$((30 + ($2 % 7) * 395))
  printf 'k1\n1\nretail 1.0\n%s version %d\n"%d lines"\n%d\n' "$1" "$2" "$lines" "$lines"
  seq -f "Item-%g-v$2 $2.50" 1 "$lines"
  printf 'end of %s version %d\n' "$1" "$2"
}
for db in $databases; do
  tp create "$tree/${db%/*}" "${db#*/}" k1 || fail "create $db"
done
printf '<p>Offer kept through the backup</p>\n' >"$work/offer.html"
tp offer "$tree/north" "$work/offer.html" >/dev/null || fail "store an offer"
offer=$(find "$tree/north" -name '.??????' -printf '%f\n')
mark=$(getfattr -h --only-values -n user.talvenplan "$tree/north/$offer" 2>/dev/null)

(
  # At most 10,000 rounds, should the copies never end.
  for n in $(seq 1 10000); do
    [ -e "$work/stop" ] && break
    for db in $databases; do
      version "$db" "$n" | tp put "$tree/${db%/*}" "${db#*/}" k1 - ||
        echo "put $db $n failed" >>"$work/put-errors"
    done
  done
) &
loop=$!

# The guide's command, while the puts run.
archives=0 during=0
while [ "$archives" -lt "$copies" ]; do
  running=
  kill -0 "$loop" 2>/dev/null && running=yes
  archives=$((archives + 1))
  (umask 077; tar -C "$work" -czf "$work/backup-$archives.tar.gz" \
    --xattrs --warning=no-file-changed --warning=no-file-removed \
    --exclude='.put-??????' srv/talvenplan || [ $? = 1 ]) 2>"$work/tar-errors"
  status=$?
  [ "$status" = 0 ] || fail "the backup ended with status $status: $(head -n 3 "$work/tar-errors")"
  [ -s "$work/tar-errors" ] && fail "tar warned: $(head -n 3 "$work/tar-errors")"
  mode=$(stat -c %a "$work/backup-$archives.tar.gz")
  [ "$mode" = 600 ] || fail "archive $archives has mode $mode, not 600"
  # Still running after the copy: the copy was taken during the puts.
  [ -n "$running" ] && kill -0 "$loop" 2>/dev/null && during=$((during + 1))
done
touch "$work/stop"
wait "$loop"
loop=
[ -e "$work/put-errors" ] && fail "puts failed: $(head -n 3 "$work/put-errors")"
[ "$during" = "$copies" ] || fail "only $during of $copies copies were taken while the puts ran"

# Every database in every archive: one whole version.
torn=0 checked=0
for n in $(seq 1 "$archives"); do
  rm -rf "$work/x"
  mkdir "$work/x"
  tar -C "$work/x" -xzf "$work/backup-$n.tar.gz" || fail "archive $n does not unpack"
  for db in $databases; do
    file=$work/x/srv/talvenplan/$db
    v=$(sed -n '4s/.* version \([0-9]*\)$/\1/p' "$file" 2>/dev/null)
    checked=$((checked + 1))
    if [ -z "$v" ] && cmp -s "$file" <(printf 'k1\n0\n0\n""\n0\n0\n0\n'); then
      continue  # as create made it, before the first put
    fi
    if [ -z "$v" ] || ! cmp -s "$file" <(version "$db" "$v"); then
      torn=$((torn + 1))
      [ "$torn" -le 3 ] && fail "archive $n: $db is not one whole version"
    fi
  done
  if find "$work/x" -name '.put-*' | grep -q .; then
    fail "archive $n holds a .put- file"
  fi
done
[ "$torn" = 0 ] && echo "ok   $checked databases in $archives archives ($during taken during the puts) are each one whole version"

# The guide's restore of the last archive, in place: the tree's files kept in
# an archive of their own, then removed, the copy unpacked.
(umask 077; tar -C "$work" -czf "$work/before-restore.tar.gz" --xattrs srv/talvenplan) ||
  fail "the archive of the tree before the restore"
tp create "$tree/south" made-after-the-copy k1 || fail "create a list after the copy"
find "$tree" ! -type d -delete || fail "find removes the tree's files"
tar -C "$work" -xpzf "$work/backup-$archives.tar.gz" --xattrs --numeric-owner ||
  fail "the restore does not unpack"
[ -z "$mounted" ] || mountpoint -q "$tree" || fail "the tree is no longer a mount point"
diff <(tar -tzf "$work/backup-$archives.tar.gz" | grep -v '/$' | sort) \
  <(cd "$work" && find srv/talvenplan ! -type d | sort) >"$work/diff" ||
  fail "the restored tree is not the archive's: $(head -n 5 "$work/diff")"
listing=$(tp list "$tree/north" | sort)
[ "$listing" = $'prices\ntools' ] || fail "the restored directory lists '$listing'"
for db in $databases; do
  tp get "$tree/${db%/*}" "${db#*/}" k1 | cmp -s - "$tree/$db" ||
    fail "the restored $db does not read back as it was copied"
done
version north/prices 1 | tp put "$tree/north" prices k1 - ||
  fail "a put to the restored tree"
if [ -n "$mark" ]; then
  [ "$(getfattr -h --only-values -n user.talvenplan "$tree/north/$offer" 2>/dev/null)" = "$mark" ] ||
    fail "the restored offer lost store's mark"
else
  echo "skipped: store's mark through the backup (no user extended attributes here)"
fi
[ "$failures" = 0 ] && echo "ok   the restored tree is the archive's, lists, reads back and takes puts"
[ "$failures" = 0 ]
