#!/usr/bin/env bash
# The wendrel-cli program against listings no client should use and status
# items at their limits (wendrel-fake-igd on a version 2 service, in a private
# network namespace): every unusable listing prints the table of the clean
# run, read by the walk; 32-bit counters at their top are shown as sent and
# refused status actions as unknown.
#   list_fault_test.sh WENDREL_CLI WENDREL_FAKE_IGD IN_PRIVATE_NETNS
set -uo pipefail
cli=${1:?wendrel-cli} fake=${2:?wendrel-fake-igd} netns=${3:?tests/in-private-netns}

exec "$netns" bash -c '
cli=$1 fake=$2
work=$(mktemp -d)
fakePid=
trap "[[ -z \$fakePid ]] || kill -TERM \$fakePid 2>/dev/null; rm -rf $work" EXIT
failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
expect_eq() { if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: got \"$2\", want \"$3\""; fi; }

# A fake with six mappings (TCP and UDP taking turns, index 2 disabled) on a
# version 2 service; its description URL in url, its requests in the log.
start() {
    : >"$work/log"
    rm -f "$work/url" # the shell that starts the fake truncates it only later
    "$fake" --service urn:schemas-upnp-org:service:WANIPConnection:2 --mappings 6 \
        --disabled 2 --seconds 60 --log "$work/log" "$@" >"$work/url" 2>"$work/fake.err" &
    fakePid=$!
    for ((i = 0; i < 50; i++)); do [[ -s $work/url ]] && break; sleep 0.05; done
    url=$(head -n 1 "$work/url")
    [[ -n $url ]] || fail "the fake did not start: $(<"$work/fake.err")"
}
stop() {
    kill -TERM "$fakePid"
    wait "$fakePid" 2>/dev/null
    fakePid=
}
# wendrel-cli on the fake; out, err and status. The table rows sorted: the
# bulk listing gives TCP first, the walk the index order.
run() {
    out=$("$cli" --gateway "$url" "$@" 2>"$work/err")
    status=$?
    err=$(<"$work/err")
}
rows() { grep -E "^ *(on|off) " <<<"$out" | sort; }

# The fake writes the rest of its log as it stops: each check comes after.
start
run list
clean=$(rows)
stop
expect_eq "clean run: six rows, bulk" "$(grep -c . <<<"$clean"):$(grep -c GetListOfPortMappings "$work/log")" "6:2"

for listing in truncated over-bound too-many-entries endless stuck not-xml wrong-root bad-ports \
    doubly-escaped refused; do
    start --listing "$listing"
    run list
    stop
    expect_eq "$listing: exit 0, nothing on stderr, the clean table, walked" \
        "$status:$err:$(rows):$(grep -c "GetGenericPortMappingEntry" "$work/log")" "0::$clean:8"
done

start --status-value NewTotalBytesSent=4294967295 --status-value NewTotalBytesReceived=4294967295 \
    --status-value NewTotalPacketsSent=0 --refuse GetCommonLinkProperties --refuse GetTotalPacketsReceived
run status
expect_eq "status: exit 0, nothing on stderr" "$status:$err" "0:"
expect_eq "status: counters as sent, refused items unknown" \
    "$(grep -E "^(Bytes|Packets|Access type|Physical)" <<<"$out" | tr -s " ")" \
    "Access type: unknown
Physical link: unknown
Bytes sent: 4294967295
Bytes received: 4294967295
Packets sent: 0
Packets received: unknown"
run --json status
expect_eq "status --json: exit 0, the counters numbers, refused items null" \
    "$status:$(python3 -c "import json,sys; j = json.load(sys.stdin); print([j[k] for k in (\"totalBytesSent\", \"totalBytesReceived\", \"totalPacketsSent\", \"totalPacketsReceived\", \"accessType\", \"connectionStatus\")])" <<<"$out")" \
    "0:[4294967295, 4294967295, 0, None, None, '\''Connected'\'']"
stop

echo "$failures failure(s)"
((failures == 0))
' list-fault-test "$cli" "$fake"
