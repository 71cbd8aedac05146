#!/usr/bin/env bash
# wendrel-cli pinhole against miniupnpd's IPv6 firewall (scripts/lab up
# --ipv6): the search over IPv6, add (the rule in the gateway's nftables),
# check (709 NoPacketSent is an answer), update, delete (the rule gone), the
# firewall's status read first, unknown IDs, a refused address; then the
# IGDv1 description, which has no IPv6 firewall, and a lab without IPv6.
#   pinhole_lab_test.sh WENDREL_CLI LAB_SCRIPT
set -uo pipefail

source "$(dirname "$0")/lab_test_lib.sh" "$@"
export WENDREL_LAB_NAME=ph-$$

# Runs wendrel-cli on the lab's client host; sets out, err and status, and
# keeps the SOAP actions miniupnpd logged meanwhile.
actions=
cli() {
    local logLines
    logLines=$(wc -l <"$LAB_REQUEST_LOG")
    run_cli "$@"
    actions=$(tail -n +"$((logLines + 1))" "$LAB_REQUEST_LOG" |
        sed -n 's/.*SOAPAction: .*#\([A-Za-z]*\).*/\1/p' | paste -sd ' ')
}

# The gateway's pinhole rules, one line each.
rules() {
    "$lab" exec-gw nft list chain inet filter miniupnpd | grep -E 'accept$' | sed 's/^[[:space:]]*//'
}

# nftables writes the client's address as 128 raw bits.
clientBits=0xfd000077000000000000000000000020

take_down_stale_labs "ph-*" "ph-"

bring_lab_up --ipv6
echo "lab $LAB_NAME: $LAB_DESCRIPTION_URL6, client $LAB_CLIENT_ADDRESS6"

description=$("$lab" exec curl -sf --noproxy '*' --max-time 2 "$LAB_DESCRIPTION_URL6")
expect_match "description over IPv6 offers the IPv6 firewall" "$description" \
    "<serviceType>urn:schemas-upnp-org:service:WANIPv6FirewallControl:1</serviceType>"

# --- add --------------------------------------------------------------------
cli pinhole add TCP 8080
expect_eq "add exits 0" "$status" 0
expect_match "add prints the pinhole's ID alone" "$out" '^[0-9]+$'
tcpId=$out
expect_eq "the firewall's status is read before the add" "$actions" "GetFirewallStatus AddPinhole"
expect_match "the rule opens TCP 8080 to this host's IPv6 address from anywhere" "$(rules)" \
    "^iif \"wan0\" th dport 8080 @nh,192,128 $clientBits @nh,48,8 0x6 accept\$"

cli --json pinhole add UDP 9000 "$LAB_CLIENT_ADDRESS6" --remote fd00:2::1 4000 --lease 600
expect_eq "add --json exits 0" "$status" 0
expect_eq "add --json: the pinhole as asked, protocol last" \
    "$(json '[j["pinhole"], list(j)[-1], j["protocol"]]' <<<"$out")" \
    "[{\"protocol\": \"UDP\", \"internalClient\": \"$LAB_CLIENT_ADDRESS6\", \"internalPort\": 9000, \"remoteHost\": \"fd00:2::1\", \"remotePort\": 4000, \"leaseTime\": 600}, \"protocol\", \"upnp\"]"
udpId=$(json 'j["uniqueId"]' <<<"$out")
expect_match "the rule holds the remote host and port" "$(rules)" \
    "^iif \"wan0\" th dport 9000 th sport 4000 @nh,192,128 $clientBits @nh,64,128 0xfd000002000000000000000000000001 @nh,48,8 0x11 accept\$"
if [[ $udpId != "$tcpId" ]]; then pass "each pinhole has its own ID"; else fail "IDs $tcpId and $udpId"; fi

# --- check, update ----------------------------------------------------------
cli pinhole check "$tcpId"
expect_eq "check of a pinhole no packet has reached exits 0" "$status" 0
expect_eq "check says so" "$out" "pinhole $tcpId is open; no packet has come through it yet (0 packets)"
expect_eq "check: status, then the check and the count" "$actions" \
    "GetFirewallStatus CheckPinholeWorking GetPinholePackets"
cli --json pinhole check "$udpId"
expect_eq "check --json" "$(json '[j["uniqueId"], j["working"], j["noPacketSent"], j["packets"], j["protocol"]]' <<<"$out")" \
    "[$udpId, null, true, 0, \"upnp\"]"

cli pinhole update "$tcpId" --lease 7200
expect_eq "update exits 0" "$status" 0
expect_eq "update says the new lease" "$out" "renewed pinhole $tcpId, lease 7200 s"
cli --json pinhole update "$udpId" --lease 86400
expect_eq "update --json" "$(json '[j["uniqueId"], j["leaseTime"], j["protocol"]]' <<<"$out")" \
    "[$udpId, 86400, \"upnp\"]"

# --- refusals -----------------------------------------------------------------
for action in "check 4242" "update 4242 --lease 60" "delete 4242"; do
    read -ra words <<<"$action"
    cli pinhole "${words[@]}"
    expect_eq "pinhole $action: an unknown ID exits 3" "$status" 3
    expect_match "pinhole $action: the reason" "$err" \
        "^wendrel-cli: the gateway did not [a-z]+ pinhole 4242: 402 InvalidArgs: .*is there a pinhole with ID 4242\\?"
done
cli --json pinhole add TCP 8081 fd00:77::99
expect_eq "a pinhole to another host is refused (3)" "$status" 3
expect_eq "the refusal's code" "$(json '[j["error"]["code"], j["error"]["name"], j["protocol"]]' <<<"$out")" \
    '[606, "ActionNotAuthorized", "upnp"]'

# --- delete -----------------------------------------------------------------
cli pinhole delete "$tcpId"
expect_eq "delete exits 0" "$status" 0
expect_eq "delete says so" "$out" "deleted pinhole $tcpId"
expect_no_match "the TCP rule is gone" "$(rules)" "dport 8080"
expect_match "the UDP rule stays" "$(rules)" "dport 9000"
cli --json pinhole delete "$udpId"
expect_eq "delete --json" "$(json '[j["uniqueId"], j["deleted"], j["protocol"]]' <<<"$out")" \
    "[$udpId, true, \"upnp\"]"
expect_eq "no pinhole rule is left" "$(rules)" ""
cli pinhole delete "$tcpId"
expect_eq "deleting it again exits 3" "$status" 3

# IPv4 goes on as before beside it.
cli --rediscover --json list
expect_eq "the IPv4 list still works in the IPv6 lab" \
    "$(json '[j["externalAddress"], j["localAddress"]]' <<<"$out")" \
    "[\"$LAB_EXTERNAL_ADDRESS\", \"$LAB_CLIENT_ADDRESS\"]"

# --- a gateway without the IPv6 firewall, a host without IPv6 ---------------
bring_lab_up --ipv6 --igd1
cli pinhole add TCP 8080
expect_eq "IGDv1 description: exits 3" "$status" 3
expect_match "IGDv1 description: says the gateway has no IPv6 firewall" "$err" \
    "cannot open pinholes: .*no IPv6 firewall service \\(WANIPv6FirewallControl\\)"

bring_lab_up
cli pinhole add TCP 8080
expect_eq "without IPv6: exits 1 (no gateway)" "$status" 1
expect_match "without IPv6: says pinholes need it" "$err" "no global or unique-local IPv6 address"

echo "$failures failure(s)"
((failures == 0))
