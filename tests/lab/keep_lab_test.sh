#!/usr/bin/env bash
# wendrel-cli keep against miniupnpd: a router reboot, short leases that never
# lapse, a changed client address, SIGHUP, SIGTERM, a port another host holds,
# an outage and a restart loop of the gateway.
#   keep_lab_test.sh [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
# With --wine, WENDREL_CLI is wendrel-cli.exe under Wine, which is checked
# with `keep --once` (what Windows' Task Scheduler runs), then running: a
# reboot restored through the Winsock listener, Ctrl+C deleting.
set -uo pipefail

source "$(dirname "$0")/lab_test_lib.sh" "$@"

kind=kn
[[ -n $wineRun ]] && kind=kw
export WENDREL_LAB_NAME=$kind-$$
work=$(mktemp -d)
keeperPid=


cleanup() {
    [[ -n $keeperPid ]] && kill -KILL "$keeperPid" 2>/dev/null
    rm -rf "$work"
    lab_cleanup
}
trap cleanup EXIT

take_down_stale_labs "k[nw]-*" "k?-"

bring_lab_up --quiet
client=$LAB_CLIENT_ADDRESS

# miniupnpd's table as nftables holds it, sorted: "TCP 18080 192.168.77.20:18080"
mapped() {
    "$lab" exec-gw nft list chain inet filter prerouting_miniupnpd |
        sed -nE 's/.*@nh,72,8 (0x[0-9a-f]+) th dport ([0-9]+) dnat ip to ([0-9.:]+).*/\1 \2 \3/p' |
        sed -e 's/^0x6 /TCP /' -e 's/^0x11 /UDP /' | sort
}
wait_for() { # tenths-of-a-second command...: true once the command succeeds
    local i
    for ((i = 0; i < $1; i++)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}
mapped_is() { [[ $(mapped) == "$1" ]]; }
logged() { grep -c "\"event\":\"$1\"" "$work/log"; }

start_keeper() { # FILE ARGS...
    : >"$work/log"
    "$lab" exec "$cli" --json keep "$@" 2>"$work/log" &
    keeperPid=$!
}
# SIGTERM; sets stopStatus. The bound is generous: speed is for the benchmarks.
stop_keeper() {
    local i
    kill -TERM "$keeperPid"
    for ((i = 0; i < 100; i++)); do
        kill -0 "$keeperPid" 2>/dev/null || break
        sleep 0.1
    done
    wait "$keeperPid"
    stopStatus=$?
    keeperPid=
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$keeperPid/stat"; }

if [[ -n $wineRun ]]; then
    # The Windows build: one pass, as a scheduled task runs it.
    printf 'TCP 18080\nUDP 19000 @ 19001 game\n' >"$work/keep.conf"
    out=$("$lab" exec "$wineRun" "$cli" keep "$work/keep.conf" --once 2>&1)
    expect_eq "keep --once under Wine exits 0" "$?" 0
    expect_eq "keep --once under Wine added both" "$(mapped)" \
        "TCP 18080 $client:18080"$'\n'"UDP 19000 $client:19001"
    printf 'TCP 18081 @ 81\n' >"$work/refused.conf"
    "$lab" exec "$wineRun" "$cli" keep "$work/refused.conf" --once >/dev/null 2>&1
    expect_eq "keep --once under Wine exits 3 when a mapping is refused" "$?" 3
    printf 'TCP 70000\n' >"$work/bad.conf"
    out=$("$lab" exec "$wineRun" "$cli" keep "$work/bad.conf" --once 2>&1)
    expect_eq "keep --once under Wine: a bad line exits 2" "$?:${out//$'\r'/}" \
        "2:$work/bad.conf:1: external port out of range: 70000 (1-65535)"
    # Running: the Winsock listener sees the reboot; Ctrl+C (Wine turns
    # SIGINT into it) deletes what it added.
    "$lab" exec "$wineRun" "$cli" keep "$work/keep.conf" 2>"$work/log" &
    keeperPid=$!
    wait_for 600 grep -q "added UDP" "$work/log" || fail "keep under Wine did not start"
    "$lab" restart --reboot >/dev/null
    wait_for 100 mapped_is "TCP 18080 $client:18080"$'\n'"UDP 19000 $client:19001" &&
        wait_for 50 grep -q "restored UDP 19000 after the gateway restarted" "$work/log" &&
        pass "keep under Wine restores after a reboot" || fail "under Wine: $(mapped); $(cat "$work/log")"
    kill -INT "$keeperPid"
    wait "$keeperPid"
    expect_eq "keep under Wine: Ctrl+C exits 0 and deletes" "$?:$(mapped)" "0:"
    keeperPid=
    ((failures == 0)) && echo "all passed" || echo "$failures failed"
    ((failures == 0))
    exit
fi

two="TCP 18080 $client:18080"$'\n'"UDP 19000 $client:19001"

# The example the package installs is a valid file that holds nothing.
example=$(dirname "$lab")/../packaging/keep.conf
out=$("$lab" exec "$cli" keep "$example" --once 2>&1)
expect_eq "the example keep.conf: valid, nothing added" "$?:$out:$(mapped)" "0:found the gateway:"
printf 'TCP 18080\nUDP 19000 @ 19001 game\n' >"$work/keep.conf"

# (e) SIGTERM deletes every mapping it added.
start_keeper "$work/keep.conf"
wait_for 100 mapped_is "$two" && pass "keep adds every mapping" || fail "keep adds: $(mapped)"
stop_keeper
expect_eq "SIGTERM: exit 0" "$stopStatus" 0
expect_eq "SIGTERM: every mapping deleted" "$(mapped)" ""
expect_eq "SIGTERM: one deleted line per mapping" "$(logged deleted)" 2

# (a) A router reboot: every mapping is back.
start_keeper "$work/keep.conf"
wait_for 100 mapped_is "$two" || fail "keep did not add before the reboot"
"$lab" restart --reboot >/dev/null
wait_for 50 mapped_is "$two" && pass "reboot: every mapping is back" || fail "reboot: $(mapped)"
expect_eq "reboot: one restart line" "$(logged gateway-restarted)" 1
expect_eq "reboot: one restored line per mapping" "$(logged restored)" 2

# (d) SIGHUP after editing the file: unlisted deleted, new added, changed re-pointed.
printf 'UDP 19000 @ 19002 game\nTCP 18082 # new\n' >"$work/keep.conf"
kill -HUP "$keeperPid"
wait_for 50 mapped_is "TCP 18082 $client:18082"$'\n'"UDP 19000 $client:19002" &&
    pass "SIGHUP: file read again" || fail "SIGHUP: $(mapped)"
printf 'TCP 99999\n' >"$work/keep.conf"
kill -HUP "$keeperPid"
wait_for 30 grep -q reload-failed "$work/log"
expect_eq "SIGHUP with a bad file: logged, running set kept" \
    "$(grep -o '"message":"[^"]*keeping the running set"' "$work/log")|$(mapped)" \
    "\"message\":\"$work/keep.conf:1: external port out of range: 99999 (1-65535); keeping the running set\"|TCP 18082 $client:18082"$'\n'"UDP 19000 $client:19002"

stop_keeper
printf 'TCP 18080\nUDP 19000 @ 19001 game\n' >"$work/keep.conf"

# The gateway gone for 20 s, then restarting in a loop: one line when it goes,
# one when it is back, everything restored, and no busy loop meanwhile.
start_keeper "$work/keep.conf" --check 4
wait_for 100 mapped_is "$two" || fail "outage: not added"
ticks=$(cpu_ticks)
"$lab" exec-gw ip link set lan0 down
sleep 20
"$lab" exec-gw ip link set lan0 up
for ((i = 0; i < 5; i++)); do
    "$lab" restart --reboot >/dev/null
    sleep 1
done
wait_for 100 mapped_is "$two" && pass "outage and restart loop: every mapping is back" ||
    fail "outage and restart loop: $(mapped)"
expect_eq "outage: the loss said once" "$(logged gateway-lost)" 1
used=$(($(cpu_ticks) - ticks))
((used < 100)) && pass "outage: $used CPU ticks in ~26 s" || fail "outage: $used CPU ticks in ~26 s"
stop_keeper
expect_eq "outage: deleted at the end" "$(mapped)" ""

# (f) A port another host holds: said once, retried, never deleted; the
# other mappings are held. The other host is a second address on the
# client's LAN interface, posting its own AddPortMapping.
other=${client%.*}.30
soap() { # from action arguments-xml
    "$lab" exec curl -sf --noproxy '*' --max-time 3 --interface "$1" -o /dev/null \
        -H 'Content-Type: text/xml; charset="utf-8"' \
        -H "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#$2\"" \
        --data "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:$2 xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">$3</u:$2></s:Body></s:Envelope>" \
        "http://$LAB_GATEWAY_ADDRESS:5000/ctl/IPConn"
}
soap_add() { # client port
    soap "$1" AddPortMapping "<NewRemoteHost></NewRemoteHost><NewExternalPort>$2</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>$2</NewInternalPort><NewInternalClient>$1</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>other host</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>"
}
"$lab" exec ip addr add "$other/24" dev eth0
soap_add "$other" 18090 || fail "the other host could not map TCP 18090"
printf 'TCP 18090\nTCP 18091\n' >"$work/conflict.conf"
start_keeper "$work/conflict.conf" --check 4
wait_for 100 mapped_is "TCP 18090 $other:18090"$'\n'"TCP 18091 $client:18091" &&
    pass "a port of another host: the others are held" || fail "a port of another host: $(mapped)"
sleep 8 # retries at 1, 2 and 4 s
expect_eq "a port of another host: said once" "$(logged refused)" 1
grep -q "\"owner\":{\"internalClient\":\"$other\"" "$work/log" &&
    pass "a port of another host: the holder is named" || fail "holder not named: $(cat "$work/log")"
stop_keeper
expect_eq "a port of another host: never deleted" "$(mapped)" "TCP 18090 $other:18090"
soap "$other" DeletePortMapping "<NewRemoteHost></NewRemoteHost><NewExternalPort>18090</NewExternalPort><NewProtocol>TCP</NewProtocol>"
"$lab" exec ip addr del "$other/24" dev eth0

# (b) Leases of 20 s are renewed before they run out: never missing over 60 s.
start_keeper "$work/keep.conf" --lease 20
wait_for 100 mapped_is "$two" || fail "short leases: not added"
missing=0
for ((second = 0; second < 60; second++)); do
    mapped_is "$two" || missing=$((missing + 1))
    sleep 1
done
expect_eq "lease 20 s: no mapping missing in 60 polls" "$missing" 0
renewals=$(grep -c '"event":"renewed"' "$work/log")
((renewals >= 5)) && pass "lease 20 s: renewed ($renewals times)" || fail "lease 20 s: $renewals renewals"
# A keeper that dies leaves nothing behind for longer than one lease.
kill -KILL "$keeperPid"
wait "$keeperPid" 2>/dev/null
keeperPid=
wait_for 300 mapped_is "" && pass "lease 20 s: a killed keeper's mappings end with their lease" ||
    fail "a killed keeper's mappings are still there: $(mapped)"

# (c) This host's address changes: the mappings that follow it move. The
# gateway lets only the old address delete or replace its mappings, so the
# move completes when the old lease (10 s) has run out.
start_keeper "$work/keep.conf" --lease 10 --check 2
wait_for 100 mapped_is "$two" || fail "address change: not added"
moved=${client%.*}.21
"$lab" exec sh -c 'echo 1 >/proc/sys/net/ipv4/conf/eth0/promote_secondaries'
"$lab" exec ip addr add "$moved/24" dev eth0
"$lab" exec ip addr del "$client/24" dev eth0
wait_for 400 mapped_is "TCP 18080 $moved:18080"$'\n'"UDP 19000 $moved:19001" &&
    pass "address change: the mappings follow this host" || fail "address change: $(mapped)"
expect_eq "address change: said once, each mapping moved" \
    "$(logged address-changed) $(logged moved)" "1 2"
stop_keeper

((failures == 0)) && echo "all passed" || echo "$failures failed"
((failures == 0))
