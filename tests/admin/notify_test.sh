#!/usr/bin/env bash
# The mail job against shops whose offers are in known states, through a
# real sendmail (msmtp) to an SMTP server of the test's own: what each shop
# is mailed by the table below, in its language, with the customer's words
# decoded, in UTF-8, to the shop's address from the configured sender; that
# a second run mails nothing; that a shop without an address is mailed
# nothing; that a mail sendmail refused is not recorded and goes at the next
# run; that an offer another run is mailing is left to it; and that a slot
# that can't be read is passed over with a word.
# Usage: notify_test.sh   (the arguments the other admin tests take are
# not needed)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
notify=$here/../../packaging/bin/talvenplan-notify
python=/usr/bin/python3
if ! command -v msmtp >/dev/null || ! "$python" -c 'import aiosmtpd' 2>/dev/null; then
  echo "skipped: needs msmtp and aiosmtpd (apt-get install msmtp-mta python3-aiosmtpd)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/talvenplan-notify.XXXXXX")
server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# The SMTP server keeps each message in the Maildir $work/mail. It says its
# port once it listens, so nothing waits on time.
cat >"$work/smtp.py" <<'EOF'
import asyncio, socket, sys
from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import SMTP
sock = socket.socket()
sock.bind(('127.0.0.1', 0))
sock.listen(16)
loop = asyncio.new_event_loop()
loop.run_until_complete(loop.create_server(lambda: SMTP(Mailbox(sys.argv[1])), sock=sock))
print(sock.getsockname()[1], flush=True)
loop.run_forever()
EOF
mkfifo "$work/port"
"$python" "$work/smtp.py" "$work/mail" >"$work/port" &
server=$!
read -r port <"$work/port" || { echo "FAIL the SMTP server did not start"; exit 1; }
printf 'account default\nhost 127.0.0.1\nport %s\nfrom talvenplan@test.example\nauth off\ntls off\n' \
  "$port" >"$work/msmtprc"
chmod 0600 "$work/msmtprc"
export TALVENPLAN_SENDMAIL="msmtp -C $work/msmtprc" TZ=UTC
root=$work/root
printf 'TALVEN_ROOT=%s\nTALVENPLAN_MAIL_FROM=%s\n' "$root" "'Talvenplan <notify@test.example>'" \
  >"$work/settings"

# The shops: their settings' JSON after the line "shop".
declare -A shops=(
  [north]='{"name": "Talvi Oy", "locale": "fi-FI", "mail": "sales@talvi.example"}'
  [south]='{"locale": "fi-FI", "language": "sv", "mail": "offert@sodra.example"}'
  [bare]='{"locale": "de-DE", "mail": ""}'
)
# SHOP   the shop's directory
# NAME   the offer
# STATE  the files beside it: until:N, a slot valid until N days from today
#        (UTC; plain slot: no until); opened; accept or decline, an answer,
#        and :no where the page's hash did not match; told:EVENTS, what was
#        mailed already; withdrawn.
# MAILED the subjects of what the first run mails, ; between them; @N the
#        day N days from today as the shop writes it.
cases='
north | .opn001 | slot opened                     | Tarjous opn001 avattiin
north | .acc001 | until:1 opened accept           | Tarjous acc001 avattiin; Matti Meikäläinen hyväksyi tarjouksen acc001
north | .dec001 | slot decline:no                 | Matti Meikäläinen hylkäsi tarjouksen dec001
north | .exp001 | until:1                         | Tarjous exp001 vanhenee @1 – ei vielä vastausta
north | .exp002 | until:0 opened told:opened      | Tarjous exp002 vanhenee @0 – ei vielä vastausta
north | .old001 | until:-1 opened told:opened     | -
north | .far001 | until:5                         | -
north | .wdr001 | until:1 withdrawn               | -
north | .ans001 | until:1 opened accept told:opened,accepted | -
south | .acc002 | slot opened accept told:opened  | Matti Meikäläinen godkände offert acc002
bare  | .opn002 | slot opened                     | -
'
for shop in "${!shops[@]}"; do
  mkdir -p "$root/$shop"
  printf 'shop\n%s\n' "${shops[$shop]}" >"$root/$shop/.talvenplan-shop"
done
# lay NAME STATE...: the files of offer NAME ($work/root/SHOP/NAME).
lay() {
  local name=$1 state
  shift
  for state; do
    case $state in
    slot | until:*)
      {
        printf 'talvenplan-slot 1\nkey aB3dE9fG1hJ2kL4mN5pQ6r\n'
        [ "$state" = slot ] || echo "until $(date -u -d "${state#until:} days" +%F)"
        printf 'sha256 %064d\nstaged 2026-12-09T17:13:05.123456Z\nby anna%%40talvi\n' 0
      } >"$name.slot"
      ;;
    opened) echo 'opened 2026-12-09T18:00:00.000001Z' >"$name.opened" ;;
    accept* | decline*)
      printf 'talvenplan-answer 1\ndecision %s\nname Matti%%20Meik%%C3%%A4l%%C3%%A4inen\n' "${state%:no}"
      printf 'message Kiitos!%%0AToimitus%%20maanantaina.\nat 2026-12-09T18:05:00.000001Z\n'
      printf 'sha256 %064d\nmatched %s\n' 0 "$([ "${state#*:}" = no ] && echo no || echo yes)"
      ;;
    told:*) tr , '\n' <<<"${state#told:}" >"$name.told" ;;
    withdrawn) echo '<p>Winter offer</p>' >"$name.withdrawn" ;;
    esac
  done
}
expected=()
while IFS='|' read -r shop name state mailed; do
  [ -n "$shop" ] || continue
  (cd "$root/$shop" && for s in $state; do
    case $s in
    accept* | decline*) lay "$name" "$s" >"$name.answer" ;;
    *) lay "$name" "$s" ;;
    esac
  done)
  [ "$mailed" = - ] && continue
  address=$(sed -nE 's/.*"mail": "([^"]*)".*/\1/p' <<<"${shops[$shop]}")
  IFS=';' read -ra subjects <<<"$mailed"
  for subject in "${subjects[@]}"; do
    subject=$(sed -E 's/^ +//' <<<"$subject")
    while [[ $subject =~ @(-?[0-9]+) ]]; do
      subject=${subject/"${BASH_REMATCH[0]}"/$(date -u -d "${BASH_REMATCH[1]} days" +%-d.%-m.%Y)}
    done
    expected+=("$address|$subject")
  done
done < <(sed -E 's/ *\| */|/g; s/ +$//' <<<"$cases")

# mails: a line for each message received, sorted: the envelope's and the
# header's recipient, the sender, the charset and the decoded subject; each
# body in $work/bodies/SUBJECT.
mails() {
  rm -rf "$work/bodies"
  mkdir "$work/bodies"
  "$python" - "$work/mail" "$work/bodies" <<'EOF' | sort
import email.policy, mailbox, os, sys
for message in mailbox.Maildir(sys.argv[1], factory=None, create=False):
    mail = email.message_from_bytes(message.as_bytes(), policy=email.policy.default)
    print('|'.join([mail['X-RcptTo'], mail['To'], mail['From'], mail.get_content_charset(), mail['Subject']]))
    with open(os.path.join(sys.argv[2], mail['Subject'].replace('/', '_')), 'w') as body:
        body.write(mail.get_content())
EOF
}
run() {  # run: the job, its report in $work/report
  "$notify" --settings "$work/settings" --print >"$work/report" 2>&1
}

run
status=$?
[ "$status" = 0 ] || fail "the first run ended with status $status: $(cat "$work/report")"
got=$(mails)
want=$(for line in "${expected[@]}"; do
  address=${line%%|*}
  echo "$address|$address|Talvenplan <notify@test.example>|utf-8|${line#*|}"
done | sort)
if [ "$got" = "$want" ]; then
  echo "ok   the table's ${#expected[@]} mails, to each shop's address in its language, in UTF-8"
else
  fail "the first run mailed:"$'\n'"$got"$'\n'"not:"$'\n'"$want"
fi

# The words of the answers, decoded, in each shop's language.
bodies=$work/bodies
while IFS='|' read -r subject words; do
  grep -qF -- "$words" "$bodies/$subject" 2>/dev/null || fail "'$subject' lacks '$words'"
done <<'EOF'
Matti Meikäläinen hyväksyi tarjouksen acc001|Matti Meikäläinen hyväksyi tarjouksen acc001 9.12.2026 klo 18.05 (UTC).
Matti Meikäläinen hyväksyi tarjouksen acc001|> Kiitos!
Matti Meikäläinen hyväksyi tarjouksen acc001|> Toimitus maanantaina.
Matti Meikäläinen hyväksyi tarjouksen acc001|(SHA-256-tunniste täsmää)
Matti Meikäläinen hyväksyi tarjouksen acc001|Tarjouksen tallensi anna@talvi 9.12.2026 klo 17.13 (UTC).
Matti Meikäläinen hylkäsi tarjouksen dec001|(SHA-256-tunniste ei täsmää)
Tarjous acc001 avattiin|Asiakas avasi tarjouksen acc001 9.12.2026 klo 18.00 (UTC).
Tarjous acc001 avattiin|Talvenplan (Talvi Oy)
Matti Meikäläinen godkände offert acc002|Matti Meikäläinen godkände offert acc002 den 9.12.2026 kl. 18.05 (UTC).
Matti Meikäläinen godkände offert acc002|Kundens meddelande:
EOF
told=$(cat "$root/north/.acc001.told" "$root/north/.exp002.told" "$root/south/.acc002.told" | tr '\n' ' ')
[ "$told" = "opened accepted opened expiring opened accepted " ] || fail "recorded: $told"
[ -e "$root/bare/.opn002.told" ] && fail "the shop without an address has a record"
[ "$failures" = 0 ] && echo "ok   the answers' words decoded, and what was mailed recorded"

run
status=$?
if [ "$status" != 0 ] || [ -s "$work/report" ] || [ "$(mails)" != "$got" ]; then
  fail "a second run: status $status, $(cat "$work/report")"
fi

# A mail sendmail refuses stays unrecorded, and goes at the next run.
(cd "$root/north" && lay .opn003 slot opened)
TALVENPLAN_SENDMAIL=false run
status=$?
if [ "$status" != 1 ] || ! grep -qF "opened of $root/north/.opn003 not mailed to sales@talvi.example, tried again next time: false ended with status 1" \
  "$work/report"; then
  fail "a refused mail: status $status, $(cat "$work/report")"
fi
[ -s "$root/north/.opn003.told" ] && fail "a refused mail was recorded"
run || fail "the run after a refused mail: $(cat "$work/report")"
if [ "$(cat "$root/north/.opn003.told")" != opened ] || ! mails | grep -q '|Tarjous opn003 avattiin$'; then
  fail "the refused mail was not mailed at the next run: $(cat "$work/report")"
fi

# An offer whose record another run holds (here or on another server of
# the tree) is passed over, and mailed once that run is done.
(cd "$root/north" && lay .opn005 slot opened)
touch "$root/north/.opn005.told"
mkfifo "$work/held" "$work/holding"
"$python" -c 'import fcntl, os, sys
fd = os.open(sys.argv[1], os.O_RDWR)
fcntl.lockf(fd, fcntl.LOCK_EX)
print("held", flush=True)
sys.stdin.read()' "$root/north/.opn005.told" <"$work/held" >"$work/holding" &
holder=$!
exec 3>"$work/held"
read -r _ <"$work/holding"
run
grep -qF "passed over $root/north/.opn005: another run is mailing its news" "$work/report" ||
  fail "a record another run holds: $(cat "$work/report")"
exec 3>&-
wait "$holder"
run
[ "$(cat "$root/north/.opn005.told")" = opened ] || fail "not mailed once the other run was done"

# A slot that can't be read is passed over, and the rest mailed.
echo 'shop=north' >"$root/north/.bad001.slot"
(cd "$root/north" && lay .opn004 slot opened)
run
status=$?
if [ "$status" != 1 ] || ! grep -qF "skipped $root/north/.bad001: can't read it" "$work/report" ||
  ! grep -qF "mailed opened of $root/north/.opn004" "$work/report"; then
  fail "an unreadable slot: status $status, $(cat "$work/report")"
fi
[ "$failures" = 0 ] && echo "ok   a second run mails nothing; a refused mail goes next time, a held one when let go; a bad slot is passed over"
[ "$failures" = 0 ]
