#!/usr/bin/env bash
# Port ranges, --any-port and the word on a replaced mapping against miniupnpd:
# a range add cross-checked with upnpc, a range that meets another host's port
# half way, a range delete beside another host's mappings, --any-port on a
# port another host holds, and an add over this host's own mapping.
#   range_lab_test.sh --igd2|--igd1 [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
set -uo pipefail

igd=${1:?--igd2 or --igd1}
shift
source "$(dirname "$0")/lab_test_lib.sh" "$@"

kind=t
[[ -n $wineRun ]] && kind=w
export WENDREL_LAB_NAME=rg$kind${igd#--igd}-$$

# Runs wendrel-cli on the client host; sets out, err, status and actions (the
# SOAP actions miniupnpd logged meanwhile).
cli() {
    local logLines
    logLines=$(wc -l <"$LAB_REQUEST_LOG")
    run_cli "$@"
    actions=$(tail -n +"$((logLines + 1))" "$LAB_REQUEST_LOG" | grep -oE 'SOAPAction: [^ ]*' |
        sed -E 's/.*#([A-Za-z]+).*/\1/' | sort | uniq -c | awk '{ print $2 "=" $1 }' | tr '\n' ' ')
}

take_down_stale_labs "rg[tw][12]-*" "rg??-"
bring_lab_up "$igd"
echo "lab $LAB_NAME: $LAB_DESCRIPTION_URL ($igd)"
here=$LAB_CLIENT_ADDRESS
other=${here%.*}.30

# Another host: a second address on the client's LAN interface, posting its
# own requests (miniupnpd in secure mode maps ports only to the asking host).
soap() { # from action arguments-xml
    "$lab" exec curl -sf --noproxy '*' --max-time 3 --interface "$1" -o /dev/null \
        -H 'Content-Type: text/xml; charset="utf-8"' \
        -H "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#$2\"" \
        --data "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:$2 xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">$3</u:$2></s:Body></s:Envelope>" \
        "http://$LAB_GATEWAY_ADDRESS:5000/ctl/IPConn"
}
other_add() { # port
    soap "$other" AddPortMapping "<NewRemoteHost></NewRemoteHost><NewExternalPort>$1</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>$1</NewInternalPort><NewInternalClient>$other</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>other host</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>" ||
        fail "the other host could not map TCP $1"
}
"$lab" exec ip addr add "$other/24" dev eth0

# "PORT CLIENT:INTERNAL" of every TCP mapping from FIRST to LAST, as upnpc lists them.
upnpc_rows() { # first last
    "$lab" exec upnpc -i -u "$LAB_DESCRIPTION_URL" -l 2>&1 |
        sed -nE 's/^ *[0-9]+ TCP +([0-9]+)->([0-9.]+):([0-9]+) .*/\1 \2:\3/p' |
        awk -v a="$1" -v b="$2" '$1 >= a && $1 <= b' | sort -n | tr '\n' ' '
}
rows() { # first last client internal-first
    local port
    for ((port = $1; port <= $2; port++)); do printf '%s %s:%s ' "$port" "$3" $(($4 + port - $1)); done
}

# (a) A range is added whole, each port to INT_START on; upnpc sees the same.
cli --json add TCP 20000-20009 "$here" 21000 range
expect_eq "range add exits 0" "$status" 0
expect_eq "range add: ten mappings in JSON" "$(json 'len(j["added"])' <<<"$out")" 10
expect_eq "range add: upnpc lists every port" "$(upnpc_rows 20000 20009)" \
    "$(rows 20000 20009 "$here" 21000)"

# (b) Another host holds a port half way: exit 3 naming it, nothing of ours left.
other_add 20105
cli add TCP 20100-20109
expect_eq "range into another host's port exits 3" "$status" 3
expect_match "the refused port and the reason are named" "$err" \
    "refused TCP 20105: 718 ConflictInMappingEntry.*held by $other:20105"
expect_eq "nothing of ours left behind, the other host's mapping stays" \
    "$(upnpc_rows 20100 20109)" "20105 $other:20105 "

# (c) A range delete takes ours and leaves the other host's alone.
cli add TCP 20100-20104
cli add TCP 20106-20109
cli --json delete TCP 20100-20109
expect_eq "range delete exits 0" "$status" 0
expect_eq "range delete: nine of ours deleted" "$(json 'len(j["deleted"])' <<<"$out")" 9
expect_eq "range delete: the other host's mapping stays" "$(upnpc_rows 20100 20109)" \
    "20105 $other:20105 "
expect_no_match "range delete: no range action over another host's port" "$actions" \
    DeletePortMappingRange
expect_match "range delete: one delete each" "$actions" "DeletePortMapping=9 "
cli delete TCP 20000-20009
expect_eq "range delete over ours alone" "$(upnpc_rows 20000 20009)" ""
if [[ $igd == --igd2 ]]; then
    expect_match "range delete over ours alone: one range action" "$actions" \
        "DeletePortMappingRange=1 "
else
    expect_match "range delete over ours alone (v1): one delete each" "$actions" \
        "DeletePortMapping=10 "
fi

# (d) --any-port on a port another host holds: another port is granted.
other_add 20200
other_add 20201
cli --json add TCP 20200 --any-port
expect_eq "any-port exits 0" "$status" 0
granted=$(json 'j["added"]["externalPort"]' <<<"$out")
if [[ $igd == --igd2 ]]; then
    # miniupnpd's AddAnyPortMapping picks the port itself
    [[ $granted != 20200 && $granted != 20201 ]] && pass "any-port (v2): granted $granted" ||
        fail "any-port (v2): granted $granted"
else
    expect_eq "any-port (v1): two steps to 20202" "$granted" 20202
    expect_eq "any-port (v1): each step said" "$(json 'len(j["warnings"])' <<<"$out")" 2
fi
expect_match "upnpc sees the granted port" "$(upnpc_rows "$granted" "$granted")" "^$granted $here:20200 $"
cli delete TCP "$granted"

# (e) An add over this host's own mapping replaces it silently in miniupnpd:
# the read-back says so.
cli add TCP 20300 "$here" 20380
cli --json add TCP 20300 "$here" 20381
expect_eq "replacing add exits 0" "$status" 0
expect_eq "replaced: the earlier internal port" \
    "$(json 'j["added"]["replaced"]["internalPort"]' <<<"$out")" 20380
cli add TCP 20300 "$here" 20382
expect_match "replaced: said in text" "$out" \
    "replaced this client's earlier mapping TCP 20300 -> $here:20381"
cli delete TCP 20300

# (f) miniupnpd's AddAnyPortMapping grants a port this client already maps as
# readily as a free one, and replaces that mapping: the add says so.
if [[ $igd == --igd2 ]]; then
    other_add 20500
    cli add TCP 20501 "$here" 21501 mine
    cli --json add TCP 20500 --any-port
    granted=$(json 'j["added"]["externalPort"]' <<<"$out")
    if [[ $granted == 20501 ]]; then
        expect_eq "any-port onto our own port: the replaced mapping is named" \
            "$(json 'j["added"]["replaced"]["internalPort"]' <<<"$out")" 21501
    else
        expect_eq "any-port elsewhere: nothing replaced" \
            "$(json '"replaced" in j["added"]' <<<"$out")" false
    fi
    cli delete TCP 20490-20510
    expect_eq "range delete leaves the other host's 20500" "$(upnpc_rows 20490 20510)" \
        "20500 $other:20500 "
    soap "$other" DeletePortMapping "<NewRemoteHost></NewRemoteHost><NewExternalPort>20500</NewExternalPort><NewProtocol>TCP</NewProtocol>"
fi

soap "$other" DeletePortMapping "<NewRemoteHost></NewRemoteHost><NewExternalPort>20105</NewExternalPort><NewProtocol>TCP</NewProtocol>"
"$lab" exec ip addr del "$other/24" dev eth0
echo "$failures failure(s)"
((failures == 0))
