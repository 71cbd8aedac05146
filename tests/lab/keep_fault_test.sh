#!/usr/bin/env bash
# wendrel-cli keep against a gateway that answers every action with a fault
# (wendrel-fake-igd --fault 501, in a private network namespace): one log line
# per mapping, retries bounded by the back-off, a clean stop.
#   keep_fault_test.sh WENDREL_CLI WENDREL_FAKE_IGD IN_PRIVATE_NETNS
set -uo pipefail
cli=${1:?wendrel-cli} fake=${2:?wendrel-fake-igd} netns=${3:?tests/in-private-netns}

exec "$netns" bash -c '
cli=$1 fake=$2
work=$(mktemp -d)
trap "rm -rf $work" EXIT
failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

"$fake" --fault 501:ActionFailed --log "$work/requests" --seconds 60 >/dev/null &
fakePid=$!
sleep 0.3
printf "TCP 8080\nUDP 9000\n" >"$work/keep.conf"
"$cli" --json keep "$work/keep.conf" --check 1 2>"$work/log" &
keeper=$!
sleep 6
kill -TERM "$keeper"
wait "$keeper"
status=$?
kill -TERM "$fakePid"
wait "$fakePid" 2>/dev/null

[[ $status == 0 ]] && pass "stops with 0" || fail "stopped with $status"
refused=$(grep -c "\"event\":\"refused\"" "$work/log")
[[ $refused == 2 ]] && pass "one refused line per mapping" || fail "$refused refused lines: $(cat "$work/log")"
grep -q "\"code\":501" "$work/log" && pass "the fault is named" || fail "no 501 in the log"
lines=$(wc -l <"$work/log")
[[ $lines == 3 ]] && pass "three lines in all" || fail "$lines lines: $(cat "$work/log")"
adds=$(grep -c AddPortMapping "$work/requests")
# Back-off 1 s (the check interval caps it): about six tries each in 6 s.
((adds >= 4 && adds <= 16)) && pass "$adds adds in 6 s" || fail "$adds adds in 6 s"
((failures == 0))
' keep-fault-test "$cli" "$fake"
