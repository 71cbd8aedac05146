#!/usr/bin/env bash
# wendrel-cli over PCP and NAT-PMP against miniupnpd (scripts/lab up --pcp):
# external-ip, add, list, delete, refusals and the nonce a delete needs, with
# the gateway's nftables rules as witness; a cross-check with natpmpc; and
# --protocol auto choosing PCP there and UPnP in the usual lab.
#   pcp_lab_test.sh [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
# With --wine, WENDREL_CLI is wendrel-cli.exe, run through WINE_RUN on the
# client host (its wineserver must start in that namespace).
set -uo pipefail

source "$(dirname "$0")/lab_test_lib.sh" "$@"

export WENDREL_LAB_NAME=p-$$


# Runs wendrel-cli on the lab's client host; sets out, err, status and ms.
cli() {
    local errFile started
    errFile=$(mktemp)
    started=$(date +%s%N)
    out=$("$lab" exec "${runner[@]}" "$cli" "$@" 2>"$errFile")
    status=$?
    ms=$((($(date +%s%N) - started) / 1000000))
    err=$(<"$errFile")
    # the Windows C runtime writes CR LF
    out=${out//$'\r'/}
    err=${err//$'\r'/}
    rm -f "$errFile"
}


# The gateway's port forwards: "PROTO EXTPORT -> ADDRESS:PORT" per dnat rule.
forwards() {
    "$lab" exec-gw nft list ruleset |
        sed -nE 's/.*@nh,72,8 0x(6|11) th dport ([0-9]+) dnat ip to ([0-9.:]+).*/\1 \2 -> \3/p' |
        sed -e 's/^6 /TCP /' -e 's/^11 /UDP /'
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

echo "$failures failure(s)"
((failures == 0))
