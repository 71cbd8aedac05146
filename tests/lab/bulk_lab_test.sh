#!/usr/bin/env bash
# The bulk listing against miniupnpd: the table read in bulk on the IGDv2
# description is the table upnpc lists in bulk (-L) and the table our index
# walk reads once the daemon serves the IGDv1 description (mappings survive
# the restart in its lease file); past 128 mappings the table is walked and
# the daemon lives on.
#   bulk_lab_test.sh WENDREL_CLI LAB_SCRIPT
set -uo pipefail

source "$(dirname "$0")/lab_test_lib.sh" "$@"
export WENDREL_LAB_NAME=bk-$$

# Runs wendrel-cli on the client host; sets out, err, status and actions (the
# SOAP actions miniupnpd logged meanwhile).
cli() {
    local logLines
    logLines=$(wc -l <"$LAB_REQUEST_LOG")
    run_cli "$@"
    actions=$(tail -n +"$((logLines + 1))" "$LAB_REQUEST_LOG" | sed -n 's/.*SOAPAction: .*#//p')
}

# count first: mappings with ports first.. upwards, TCP and UDP taking turns,
# half of them with a lease of an hour.
load() {
    "$lab" exec bash -c '
        url=$1 client=$2 count=$3 first=$4
        for ((i = 0; i < count; i++)); do
            protocol=TCP; ((i % 2)) && protocol=UDP
            lease=; ((i % 4 < 2)) && lease=3600
            upnpc -u "$url" -e "bulk $i" -a "$client" $((first + i)) $((first + i + 1000)) \
                $protocol $lease >/dev/null 2>&1 || exit 1
        done' load "$LAB_DESCRIPTION_URL" "$LAB_CLIENT_ADDRESS" "$1" "$2"
}

# The mappings of `wendrel-cli --json` as sorted rows; a lease as "hour"
# (asked for) or "week" (miniupnpd's for lease 0), as it runs down meanwhile.
table() {
    json "sorted('%s %d %s:%d %s %s' % (m['protocol'], m['externalPort'], m['internalClient'], m['internalPort'], m['description'], 'hour' if m['leaseDuration'] <= 3600 else 'week') for m in j['mappings'])" <<<"$out"
}

take_down_stale_labs "bk-*" "bk-"
bring_lab_up --igd2
echo "lab $LAB_NAME: $LAB_DESCRIPTION_URL"

load 40 30000 || fail "upnpc could not load the table"
cli --json
expect_eq "bulk: exit 0, nothing on stderr" "$status:$err" "0:"
expect_eq "bulk: 40 mappings" "$(json 'len(j["mappings"])' <<<"$out")" 40
expect_eq "bulk: index 128 looked at, then one listing per protocol" \
    "$(sort <<<"$actions" | uniq -c | awk '{print $2 "=" $1}' | grep -E 'PortMapping' | paste -sd' ')" \
    "GetGenericPortMappingEntry=1 GetListOfPortMappings=2"
# miniupnpd lists in its own order (the newest first), not by port.
expect_eq "bulk: TCP first, then UDP" "$(json '"".join(m["protocol"][0] for m in j["mappings"])' <<<"$out")" \
    "$(printf 'T%.0s' {1..20})$(printf 'U%.0s' {1..20})"
expect_eq "bulk: leases of an hour and of miniupnpd's week" \
    "$(json 'sorted(set("hour" if 3500 < m["leaseDuration"] <= 3600 else "week" if m["leaseDuration"] > 604000 else str(m["leaseDuration"]) for m in j["mappings"]))' <<<"$out")" \
    '["hour", "week"]'
bulk=$(table)

# upnpc -L prints " i protocol exPort->inAddr:inPort 'description' 'remoteHost' leaseTime".
upnpcBulk=$("$lab" exec upnpc -u "$LAB_DESCRIPTION_URL" -L 2>&1)
theirs=$(python3 -c '
import re, sys
rows = []
for line in sys.stdin:
    m = re.match(r"^ *\d+ (TCP|UDP) +(\d+)->([\d.]+):(\d+) +\x27([^\x27]*)\x27 +\x27[^\x27]*\x27 +(\d+)$", line)
    if m:
        rows.append("%s %d %s:%d %s %s" % (m[1], int(m[2]), m[3], int(m[4]), m[5], "hour" if int(m[6]) <= 3600 else "week"))
print(__import__("json").dumps(sorted(rows)))' <<<"$upnpcBulk")
expect_eq "upnpc -L lists the same 40 mappings" "$theirs" "$bulk"

# The same table read index by index: the daemon restarted on the IGDv1
# description keeps its mappings.
"$lab" up --igd1 >/dev/null || fail "the lab did not come back with IGDv1"
cli --rediscover --json
expect_eq "walk (IGDv1): exit 0, nothing on stderr" "$status:$err" "0:"
expect_eq "walk (IGDv1): no bulk request, 40 entries and the end" \
    "$(grep -c GetListOfPortMappings <<<"$actions"):$(grep -c GetGenericPortMappingEntry <<<"$actions")" \
    "0:41"
expect_eq "the walk reads the table the bulk listing read" "$(table)" "$bulk"
cli --json status
expect_eq "status (IGDv1): exit 0, all 15 items told" \
    "$status:$(json '[len(j) - 1, [k for k, v in j.items() if v is None]]' <<<"$out")" '0:[15, []]'

# 129 mappings and more: miniupnpd 2.3.1 would die listing them in one range
# (upnpc -L kills it, so it is not asked here). We walk.
"$lab" up --igd2 >/dev/null || fail "the lab did not come back with IGDv2"
load 90 31000 || fail "upnpc could not load the table"
cli --rediscover --json
expect_eq "130 mappings: exit 0, all listed" "$status:$(json 'len(j["mappings"])' <<<"$out")" 0:130
expect_eq "130 mappings: walked, no bulk request" \
    "$(grep -c GetListOfPortMappings <<<"$actions"):$(grep -c GetGenericPortMappingEntry <<<"$actions")" \
    "0:132"
expect_match "miniupnpd still runs" "$("$lab" status)" "^miniupnpd: pid "

echo "$failures failure(s)"
((failures == 0))
