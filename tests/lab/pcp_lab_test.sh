#!/usr/bin/env bash
# wendrel-cli over PCP and NAT-PMP against miniupnpd (scripts/lab up --pcp):
# external-ip, add, list, delete, refusals and the nonce a delete needs, with
# the gateway's nftables rules as witness; a cross-check with natpmpc; keep
# through a router reboot (its ANNOUNCE, or the epoch alone); doctor's PCP
# line; and --protocol auto choosing PCP there and UPnP in the usual lab.
#   pcp_lab_test.sh [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
# With --wine, WENDREL_CLI is wendrel-cli.exe, run through WINE_RUN on the
# client host (its wineserver must start in that namespace).
set -uo pipefail

source "$(dirname "$0")/lab_test_lib.sh" "$@"

export WENDREL_LAB_NAME=p-$$


# Runs wendrel-cli on the lab's client host; sets out, err, status and ms.
cli() {
    local started
    started=$(date +%s%N)
    run_cli "$@"
    ms=$((($(date +%s%N) - started) / 1000000))
}


# The gateway's port forwards: "PROTO EXTPORT -> ADDRESS:PORT" per dnat rule.
forwards() {
    "$lab" exec-gw nft list ruleset |
        sed -nE 's/.*@nh,72,8 0x(6|11) th dport ([0-9]+) dnat ip to ([0-9.:]+).*/\1 \2 -> \3/p' |
        sed -e 's/^6 /TCP /' -e 's/^11 /UDP /'
}


work=$(mktemp -d)
keeperPid=
cleanup() {
    [[ -n $keeperPid ]] && kill -KILL "$keeperPid" 2>/dev/null
    rm -rf "$work"
    lab_cleanup
}
trap cleanup EXIT

wait_for() { # tenths-of-a-second command...: true once the command succeeds
    local i
    for ((i = 0; i < $1; i++)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}
forwards_are() { [[ $(forwards | sort) == "$1" ]]; }
logged() { grep -c "\"event\":\"$1\"" "$work/log"; }
start_keeper() { # ARGS...
    : >"$work/log"
    "$lab" exec "${runner[@]}" "$cli" --json "$@" 2>"$work/log" &
    keeperPid=$!
}
stop_keeper() { # SIGNAL; sets stopStatus
    local i
    kill "-$1" "$keeperPid"
    for ((i = 0; i < 100; i++)); do
        kill -0 "$keeperPid" 2>/dev/null || break
        sleep 0.1
    done
    wait "$keeperPid"
    stopStatus=$?
    keeperPid=
}

take_down_stale_labs "p-*" "p-"

bring_lab_up --pcp
echo "lab $LAB_NAME: PCP and NAT-PMP at $LAB_GATEWAY_ADDRESS"

for protocol in pcp natpmp; do
    p="$protocol:"
    cli --protocol "$protocol" external-ip
    expect_eq "$p external-ip" "$status:$out" "0:$LAB_EXTERNAL_ADDRESS"
    cli --json --protocol "$protocol" external-ip
    expect_eq "$p external-ip --json" \
        "$(json '[j["externalAddress"], j["externalAddressKind"], j["protocol"]]' <<<"$out")" \
        "[\"$LAB_EXTERNAL_ADDRESS\", \"public\", \"$protocol\"]"
    expect_eq "$p external-ip leaves no forward" "$(forwards)" ""

    port=$([[ $protocol == pcp ]] && echo 8001 || echo 8002)
    cli --json --protocol "$protocol" add TCP "$port" "$LAB_CLIENT_ADDRESS" 8080 "web server" --lease 600
    expect_eq "$p add exits 0" "$status" 0
    expect_eq "$p add: granted port, client, lease, protocol" \
        "$(json '[j["added"]["externalPort"], j["added"]["internalClient"], j["added"]["internalPort"], j["added"]["leaseDuration"], j["protocol"]]' <<<"$out")" \
        "[$port, \"$LAB_CLIENT_ADDRESS\", 8080, 600, \"$protocol\"]"
    expect_match "$p add: the comment stays on this host" "$err" "kept on this host only"
    expect_match "$p add: the gateway forwards the port" "$(forwards)" \
        "^TCP $port -> $LAB_CLIENT_ADDRESS:8080\$"

    cli --protocol "$protocol" add UDP 8100 --lease 0
    expect_eq "$p add --lease 0 exits 0" "$status" 0
    expect_match "$p add --lease 0: no permanent mappings, said" "$err" "no permanent mappings"
    expect_eq "$p add --lease 0: the granted port and default lease" "$out" \
        "added UDP 8100 -> $LAB_CLIENT_ADDRESS:8100, lease 7200 s"

    cli --json --protocol "$protocol" list
    expect_eq "$p list: from the cache, marked so" \
        "$(json '[j["protocol"], j["mappingsFrom"], j["externalAddress"], sorted([m["externalPort"] for m in j["mappings"]]), [m["source"] for m in j["mappings"]]]' <<<"$out")" \
        "[\"$protocol\", \"cache\", \"$LAB_EXTERNAL_ADDRESS\", [$port, 8100], [\"cache\", \"cache\"]]"
    expect_match "$p list: says the gateway cannot list its table" "$err" "cannot list a gateway's mappings"
    cli --protocol "$protocol" list
    expect_match "$p list text: the comment from the cache" "$out" "TCP +$port +[0-9]+ +$LAB_CLIENT_ADDRESS\\(8080\\) +web server"

    cli --protocol "$protocol" add TCP 8003 192.168.77.99
    expect_eq "$p add for another host is a usage error" "$status" 2
    expect_match "$p add for another host: why" "$err" "only to the host that asks"

    cli --protocol "$protocol" add TCP 80
    expect_eq "$p a port below 1024 is refused" "$status" 3
    expect_match "$p refusal names the result code" "$err" \
        "refused TCP 80: 2 (NOT_AUTHORIZED|NotAuthorized):"

    cli --json --protocol "$protocol" delete TCP "$port" UDP 8100
    expect_eq "$p delete exits 0" "$status" 0
    expect_eq "$p delete --json" "$(json '[len(j["deleted"]), j["failed"], j["protocol"]]' <<<"$out")" \
        "[2, [], \"$protocol\"]"
    expect_eq "$p delete: the forwards are gone" "$(forwards)" ""
    cli --protocol "$protocol" delete TCP "$port"
    expect_eq "$p deleting an unknown mapping fails" "$status" 3
    expect_match "$p unknown mapping: why" "$err" "no record of making this mapping"
done

# PCP: a delete must carry the nonce of the add; the gateway refuses another.
cli --protocol pcp add TCP 8004
store=$XDG_CACHE_HOME/wendrel/mappings
[[ -n $wineRun ]] && store=$("$lab" exec "$wineRun" cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
[[ -n $wineRun ]] && store=$("$lab" exec "$wineRun" winepath -u "$store\\Wendrel\\mappings" | tr -d '\r')
sed -i -E 's/^(pcp [0-9.]+ TCP 8004 8004 )[0-9a-f]{24}/\1000000000000000000000000/' "$store"
cli --protocol pcp delete TCP 8004
expect_eq "pcp: a delete with another nonce fails" "$status" 3
expect_match "pcp: the gateway says NOT_AUTHORIZED" "$err" "2 NOT_AUTHORIZED"
expect_match "pcp: the mapping stays" "$(forwards)" "^TCP 8004 -> "

# NAT-PMP against natpmpc: each sees the other's mapping as taken.
natpmpc=$("$lab" exec natpmpc -g "$LAB_GATEWAY_ADDRESS" -a 8200 8200 tcp 300 2>&1)
expect_match "natpmpc maps its port" "$natpmpc" "Mapped public port 8200 protocol TCP"
expect_match "natpmpc's mapping is in the gateway" "$(forwards)" "^TCP 8200 -> $LAB_CLIENT_ADDRESS:8200\$"
cli --json --protocol natpmp add TCP 8200 "$LAB_CLIENT_ADDRESS" 8201
granted=$(json 'j["added"]["externalPort"]' <<<"$out")
expect_eq "natpmp: ours is added" "$status" 0
if [[ $granted != 8200 ]]; then pass "natpmp: natpmpc's port is not taken from it"; else fail "natpmp: got natpmpc's port 8200"; fi
expect_match "natpmp: the other port granted is said" "$err" "granted external port $granted instead of 8200"
# The same host and internal port would be the same mapping: ours uses another.
cli --protocol natpmp add UDP 8300 "$LAB_CLIENT_ADDRESS" 8301
natpmpc=$("$lab" exec natpmpc -g "$LAB_GATEWAY_ADDRESS" -a 8300 8300 udp 300 2>&1)
expect_match "natpmpc sees our port as taken" "$natpmpc" "Mapped public port [0-9]+ protocol UDP"
expect_no_match "natpmpc does not get our port" "$natpmpc" "Mapped public port 8300 "

# keep over PCP and NAT-PMP through a router reboot. miniupnpd multicasts one
# PCP ANNOUNCE (epoch 0) to 224.0.0.1:5350 as it starts: with checks 30 s
# apart, only that can bring the mappings back within the bound. Under Wine,
# PCP alone (the Winsock listener), stopped by Ctrl+C (Wine turns SIGINT
# into it).
"$lab" restart --reboot >/dev/null
printf 'TCP 18080\nUDP 19000 @ 19001 game\n' >"$work/keep.conf"
two="TCP 18080 -> $LAB_CLIENT_ADDRESS:18080"$'\n'"UDP 19000 -> $LAB_CLIENT_ADDRESS:19001"
protocols=(pcp natpmp) stopSignal=TERM
[[ -n $wineRun ]] && protocols=(pcp) stopSignal=INT
for protocol in "${protocols[@]}"; do
    p="keep --protocol $protocol:"
    start_keeper --protocol "$protocol" keep "$work/keep.conf"
    wait_for 300 forwards_are "$two" && pass "$p adds both" || fail "$p adds: $(forwards)"
    started=$(date +%s%N)
    "$lab" restart --reboot >/dev/null
    if wait_for 50 forwards_are "$two"; then
        pass "$p both back after the reboot"
        echo "$p back $((($(date +%s%N) - started) / 1000000)) ms after the restart began"
    else
        fail "$p after the reboot: $(forwards)"
    fi
    wait_for 20 grep -q '"event":"restored"' "$work/log"
    expect_eq "$p one restart seen, both restored because of it" \
        "$(logged gateway-restarted):$(grep -c 'restored .* after the gateway restarted' "$work/log")" "1:2"
    stop_keeper "$stopSignal"
    expect_eq "$p SIG$stopSignal exits 0 and deletes both" "$stopStatus:$(forwards)" "0:"
done

if [[ -z $wineRun ]]; then
    # Without the ANNOUNCE (dropped on the client), the epoch a check asks for
    # shows the reboot: within one check interval.
    "$lab" exec nft add table inet wendrel_drop
    "$lab" exec nft add chain inet wendrel_drop input '{ type filter hook input priority 0; }'
    "$lab" exec nft add rule inet wendrel_drop input udp dport 5350 drop
    start_keeper --protocol natpmp keep "$work/keep.conf" --check 2
    wait_for 100 forwards_are "$two" || fail "keep --check 2: not added: $(forwards)"
    # The epoch is read with 2 s of slack (RFC 6887 8.5): a gateway rebooted
    # within seconds of its start looks as if it had gone on running.
    sleep 5
    "$lab" restart --reboot >/dev/null
    wait_for 100 forwards_are "$two" && pass "keep, no ANNOUNCE: both back after a check" ||
        fail "keep, no ANNOUNCE: $(forwards)"
    wait_for 20 grep -q '"event":"gateway-restarted"' "$work/log"
    expect_eq "keep, no ANNOUNCE: the epoch showed one restart" "$(logged gateway-restarted)" 1
    stop_keeper TERM
    "$lab" exec nft delete table inet wendrel_drop
fi

# What keep made is in the cache: a later delete finds its nonce.
"$lab" exec "${runner[@]}" "$cli" --protocol pcp keep "$work/keep.conf" --once >/dev/null 2>&1
expect_eq "keep --once over PCP adds both" "$?:$(forwards | sort)" "0:$two"
cli --protocol pcp delete TCP 18080 UDP 19000
expect_eq "delete after keep: exit 0, nothing left" "$status:$(forwards)" "0:"

# doctor's PCP line: the default gateway answers PCP version 2.
cli --json doctor
expect_eq "doctor in the PCP lab: exit 0, PCP version 2 at the default gateway" \
    "$status:$(json '[j["pcpServer"], j["pcpAnswered"], j["pcpProtocol"], j["pcpVersion"], j["gateways"]]' <<<"$out")" \
    "0:[\"$LAB_GATEWAY_ADDRESS\", true, \"pcp\", 2, []]"
expect_match "doctor in the PCP lab: the verdict names PCP" "$(json 'j["verdict"]' <<<"$out")" \
    "answers PCP: use --protocol pcp"
cli doctor
expect_match "doctor text in the PCP lab: the PCP line" "$out" \
    "^PCP/NAT-PMP: $LAB_GATEWAY_ADDRESS port 5351 answered: PCP version 2\$"

# Auto: PCP alone answers here; it is taken within the grace after its answer.
cli --json --timeout 5000 external-ip
expect_eq "auto picks PCP in a PCP-only network" "$(json 'j["protocol"]' <<<"$out")" pcp
# Under Wine a run costs more; the bound stays well below the 5 s time-out.
if ((ms < (${#runner[@]} ? 4000 : 3000))); then pass "auto: PCP taken in $ms ms, not after the time-out"; else fail "auto took $ms ms"; fi
echo "auto detection took $ms ms"

# The usual lab: UPnP only, no default route. Auto picks UPnP.
"$lab" up >/dev/null 2>&1 || fail "usual lab did not come up"
cli --json --rediscover external-ip
expect_eq "auto picks UPnP in the usual lab" "$(json 'j["protocol"]' <<<"$out")" upnp
# doctor asks the default gateway, which serves UPnP only here.
"$lab" exec ip route add default via "$LAB_GATEWAY_ADDRESS"
cli --json doctor
expect_eq "doctor in the UPnP lab: exit 0, port 5351 silent" \
    "$status:$(json '[j["pcpServer"], j["pcpAnswered"], j["pcpProtocol"], j["pcpVersion"]]' <<<"$out")" \
    "0:[\"$LAB_GATEWAY_ADDRESS\", false, null, null]"
cli doctor
expect_match "doctor text in the UPnP lab: the PCP line" "$out" \
    "^PCP/NAT-PMP: $LAB_GATEWAY_ADDRESS port 5351 did not answer\$"
"$lab" exec ip route del default

echo "$failures failure(s)"
((failures == 0))
