#!/usr/bin/env bash
# wendrel-cli against miniupnpd: discovery, addresses, list, add, delete, the
# exit statuses, a cross-check with upnpc, and the paths it posted to.
#   cli_lab_test.sh --igd2|--igd1 [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
# With --wine, WENDREL_CLI is wendrel-cli.exe, run through WINE_RUN
# (scripts/wine-run) on the client host: a wineserver sends from the network
# namespace it started in, so it must start there.
set -uo pipefail

igd=${1:?--igd2 or --igd1}
shift
wineRun=
if [[ ${1:-} == --wine ]]; then
    wineRun=${2:?path of scripts/wine-run}
    shift 2
fi
cli=${1:?path of wendrel-cli}
lab=${2:?path of scripts/lab}

# t: native runs, w: runs under Wine; the PID tells whether the run still lives
kind=t
[[ -n $wineRun ]] && kind=w
export WENDREL_LAB_NAME=$kind${igd#--igd}-$$
runner=()
[[ -n $wineRun ]] && runner=("$wineRun")
failures=0

pass() { echo "ok   $*"; }
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
expect_eq() { # what actual expected
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: got '$2', want '$3'"; fi
}
expect_match() { # what text pattern(ERE)
    if grep -Eq -- "$3" <<<"$2"; then pass "$1"; else fail "$1: '$3' not in: $2"; fi
}
expect_no_match() {
    if grep -Eq -- "$3" <<<"$2"; then fail "$1: '$3' found in: $2"; else pass "$1"; fi
}

# Runs wendrel-cli on the lab's client host; sets out, err and status, and
# collects what miniupnpd logged meanwhile (upnpc posts too).
ourLog=
cli() {
    local errFile logLines
    errFile=$(mktemp)
    logLines=$(wc -l <"$LAB_REQUEST_LOG")
    out=$("$lab" exec "${runner[@]}" "$cli" "$@" 2>"$errFile")
    status=$?
    err=$(<"$errFile")
    # the Windows C runtime writes CR LF
    out=${out//$'\r'/}
    err=${err//$'\r'/}
    rm -f "$errFile"
    ourLog+=$(tail -n +"$((logLines + 1))" "$LAB_REQUEST_LOG")$'\n'
}

json() { # python expression over `j` read from stdin
    python3 -c 'import json, sys; j = json.load(sys.stdin); v = eval(sys.argv[1]); print(v if isinstance(v, str) else json.dumps(v, ensure_ascii=False))' "$1"
}

cleanup() {
    # the wineserver would keep the client's namespace alive
    [[ -z $wineRun ]] || "$lab" exec "$wineRun" --release >/dev/null 2>&1
    "$lab" down >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A run that was killed (a ctest time-out) leaves its lab behind: take down
# the labs of runs that are gone.
for gatewayNs in /run/netns/wdl-[tw][12]-*-gw; do
    [[ -e $gatewayNs ]] || continue
    staleName=${gatewayNs#/run/netns/wdl-}
    staleName=${staleName%-gw}
    kill -0 "${staleName#??-}" 2>/dev/null && continue
    # its wineserver has no time limit and would keep the namespace alive
    [[ -z $wineRun ]] || WENDREL_LAB_NAME=$staleName "$lab" exec "$wineRun" --release >/dev/null 2>&1
    WENDREL_LAB_NAME=$staleName "$lab" down >/dev/null 2>&1 || true
done

upOutput=$("$lab" up "$igd" 2>&1)
upStatus=$?
if ((upStatus == 77)); then
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: the lab tier must run in CI, but: $upOutput"
        exit 1
    fi
    echo "SKIP: $upOutput"
    exit 77
fi
((upStatus == 0)) || {
    echo "FAIL: lab did not come up: $upOutput"
    exit 1
}
eval "$("$lab" info)"
serviceVersion=2
[[ $igd == --igd1 ]] && serviceVersion=1
echo "lab $LAB_NAME: $LAB_DESCRIPTION_URL (WANIPConnection:$serviceVersion)"

description=$("$lab" exec curl -sf --noproxy '*' --max-time 2 "$LAB_DESCRIPTION_URL")
expect_match "description offers WANIPConnection:$serviceVersion" "$description" \
    "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:$serviceVersion</serviceType>"

cli --json
expect_eq "list exits 0" "$status" 0
expect_eq "model name" "$(json 'j["modelName"]' <<<"$out")" "$LAB_MODEL_NAME"
expect_eq "external address" "$(json 'j["externalAddress"]' <<<"$out")" "$LAB_EXTERNAL_ADDRESS"
expect_eq "local address is the client's LAN address" \
    "$(json 'j["localAddress"]' <<<"$out")" "$LAB_CLIENT_ADDRESS"
expect_eq "empty list" "$(json 'j["mappings"]' <<<"$out")" "[]"

cli
expect_match "text list names the model" "$out" "^Model: +$LAB_MODEL_NAME\$"
expect_match "text list shows external (local)" "$out" \
    "^Address: $LAB_EXTERNAL_ADDRESS \\($LAB_CLIENT_ADDRESS\\)\$"

cli external-ip
expect_eq "external-ip" "$status:$out" "0:$LAB_EXTERNAL_ADDRESS"
cli --json external-ip
expect_eq "external-ip --json" "$(json 'j["externalAddress"]' <<<"$out")" "$LAB_EXTERNAL_ADDRESS"

# Wine converts the command line with the Unix locale's charset, ASCII where
# no ja_JP.UTF-8 locale is generated: Japanese would lose the high bit of
# every byte on the way in, so the comment stays ASCII under Wine.
comment='ウェブ & <テスト> "日本語"'
[[ -n $wineRun ]] && comment='web & <test> "quoted"'
cli add TCP 18080 "$LAB_CLIENT_ADDRESS" 18081 "$comment"
expect_eq "add with a comment of & < and quotes exits 0" "$status" 0
cli add udp 19000
expect_eq "add with defaults exits 0" "$status" 0

cli --json
expect_eq "two mappings, in the gateway's order" \
    "$(json '[(m["protocol"], m["externalPort"]) for m in j["mappings"]]' <<<"$out")" \
    '[["UDP", 19000], ["TCP", 18080]]'
expect_eq "comment comes back unchanged" \
    "$(json '[m["description"] for m in j["mappings"] if m["externalPort"] == 18080][0]' <<<"$out")" \
    "$comment"
expect_eq "added mapping's fields" \
    "$(json '[(m["enabled"], m["internalClient"], m["internalPort"]) for m in j["mappings"] if m["externalPort"] == 18080][0]' <<<"$out")" \
    "[true, \"$LAB_CLIENT_ADDRESS\", 18081]"
expect_eq "defaults: this host, same port, no comment" \
    "$(json '[(m["internalClient"], m["internalPort"], m["description"]) for m in j["mappings"] if m["externalPort"] == 19000][0]' <<<"$out")" \
    "[\"$LAB_CLIENT_ADDRESS\", 19000, \"\"]"

# upnpc sees the same table. miniupnpd keeps the comment's text exactly as it
# was on the wire, entities and all, and sends it back the same way: our
# client decodes it to the original, upnpc (no entity decoding) shows the
# escaped form.
upnpcList=$("$lab" exec upnpc -i -l 2>&1)
escapedComment=$(sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g' <<<"$comment")
expect_match "upnpc -i -l lists our TCP mapping" "$upnpcList" \
    "TCP +18080->$LAB_CLIENT_ADDRESS:18081 +'$escapedComment'"
expect_match "upnpc -i -l lists our UDP mapping" "$upnpcList" \
    "UDP +19000->$LAB_CLIENT_ADDRESS:19000 +''"

# upnpc -a takes the internal port first, then the external one.
"$lab" exec upnpc -u "$LAB_DESCRIPTION_URL" -e "from upnpc" -a "$LAB_CLIENT_ADDRESS" 17001 17000 UDP \
    >/dev/null 2>&1
cli --json
expect_eq "a mapping added by upnpc appears in our list" \
    "$(json '[(m["protocol"], m["internalPort"], m["description"]) for m in j["mappings"] if m["externalPort"] == 17000]' <<<"$out")" \
    '[["UDP", 17001, "from upnpc"]]'

cli add TCP 0
expect_eq "port 0 is invalid input" "$status" 2
cli add SCTP 18082
expect_eq "an unknown protocol is invalid input" "$status" 2
cli add TCP 80
expect_eq "a port the gateway does not allow is refused" "$status" 3
cli add TCP 18083 192.168.77.99
expect_eq "another host as client is refused (secure mode)" "$status" 3

cli delete TCP 18080 UDP 19000 UDP 17000
expect_eq "delete of three pairs exits 0" "$status" 0
cli --json
expect_eq "list is empty after delete" "$(json 'j["mappings"]' <<<"$out")" "[]"
upnpcList=$("$lab" exec upnpc -i -l 2>&1)
expect_no_match "upnpc sees no mapping after delete" "$upnpcList" "^ *[0-9]+ (TCP|UDP) "

# miniupnpd answers a POST on any path; its debug log is the only witness
# that every action went to the control URL of the description.
ourPosts=$(grep -E ': POST ' <<<"$ourLog")
expect_match "the gateway logged our POSTs" "$ourPosts" "POST /ctl/IPConn "
expect_eq "every POST went to /ctl/IPConn" \
    "$(grep -v -- ' : POST /ctl/IPConn (HTTP/1.1)$' <<<"$ourPosts" | grep -c .)" 0
# The IGDv2 gateway describes WANIPConnection:2; requests still name the
# searched :1 type, which every IGD version accepts.
ourActions=$(grep -E 'SOAPAction: ' <<<"$ourLog")
expect_eq "one SOAPAction per POST" "$(grep -c . <<<"$ourActions")" "$(grep -c . <<<"$ourPosts")"
expect_eq "every request names WANIPConnection:1" \
    "$(grep -vc 'SOAPAction: urn:schemas-upnp-org:service:WANIPConnection:1#' <<<"$ourActions")" 0

# Without any gateway: a namespace of its own whose only link is a veth pair
# with nothing behind it.
noGateway=$(WINE_RUN=$wineRun unshare --net bash -c '
    ip link set lo up && ip link add v0 type veth peer name v1 &&
    ip addr add 10.99.0.2/24 dev v0 && ip link set v1 up && ip link set v0 multicast on up &&
    ip route add 239.0.0.0/8 dev v0 || exit 9
    "$@" --timeout 300 list
    status=$?
    [[ -z $WINE_RUN ]] || "$WINE_RUN" --release >/dev/null 2>&1
    exit $status' no-gateway "${runner[@]}" "$cli" 2>&1)
expect_eq "no gateway exits 1" "$?" 1
noGateway=${noGateway//$'\r'/}
expect_match "no gateway says so" "$noGateway" "no UPnP gateway found"

echo "$failures failure(s)"
((failures == 0))
