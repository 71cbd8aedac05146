#!/usr/bin/env bash
# wendrel.exe against miniupnpd: builds a lab of its own, adds two mappings
# with upnpc, runs wendrel.exe under Wine on the lab's client host inside a
# Wine virtual desktop on Xvfb (so the title bar is drawn), waits until it has
# listed the mappings, saves a picture of the screen and checks in miniupnpd's
# log that every POST went to the control URL.
#   screenshot_lab_test.sh WENDREL_EXE SCREENSHOT_TOOL LAB_SCRIPT WINE_RUN OUT.png
set -uo pipefail

exe=${1:?path of wendrel.exe}
shot=${2:?path of the screenshot tool}
lab=${3:?path of scripts/lab}
wineRun=${4:?path of scripts/wine-run}
out=${5:?path of the picture}
export WENDREL_LAB_NAME=tw-$$

# How long the window may take: a fresh Wine prefix, then the start-up sequence.
readonly kListedTimeoutS=90
readonly kSettleMs=1500

skip_or_fail() {
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: $1 (CI=true: the lab tier must run)"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}

cleanup() {
    "$lab" exec env WENDREL_WINE_DISPLAY=1 "$wineRun" --release >/dev/null 2>&1
    "$lab" down >/dev/null 2>&1
}

# Labs of killed runs (a ctest time-out) are taken down first.
for gatewayNs in /run/netns/wdl-tw-*-gw; do
    [[ -e $gatewayNs ]] || continue
    staleName=${gatewayNs#/run/netns/wdl-}
    staleName=${staleName%-gw}
    kill -0 "${staleName#tw-}" 2>/dev/null && continue
    # its wineserver has no time limit and would keep the namespace alive
    WENDREL_LAB_NAME=$staleName "$lab" exec env WENDREL_WINE_DISPLAY=1 "$wineRun" --release \
        >/dev/null 2>&1
    WENDREL_LAB_NAME=$staleName "$lab" down >/dev/null 2>&1 || true
done

command -v xvfb-run >/dev/null || skip_or_fail "xvfb-run is not installed"

trap cleanup EXIT
trap 'exit 1' INT TERM
upOutput=$("$lab" up 2>&1)
upStatus=$?
((upStatus == 77)) && skip_or_fail "$upOutput"
((upStatus == 0)) || { echo "FAIL: lab did not come up: $upOutput"; exit 1; }
eval "$("$lab" info)"

for mapping in "TCP 8080 8080 Web server" "UDP 27015 27016 Game server"; do
    read -r protocol external internal comment <<<"$mapping"
    "$lab" exec upnpc -i -u "$LAB_DESCRIPTION_URL" -e "$comment" \
        -a "$LAB_CLIENT_ADDRESS" "$internal" "$external" "$protocol" >/dev/null 2>&1 ||
        { echo "FAIL: upnpc could not add $mapping"; exit 1; }
done
logStart=$(wc -l <"$LAB_REQUEST_LOG")

mkdir -p "$(dirname "$out")"
rm -f "$out"
winExe="Z:${exe//\//\\}"
# Listed: one request per mapping and the one past the end.
"$lab" exec env WENDREL_WINE_DISPLAY=1 LANG=C.UTF-8 NO_AT_BRIDGE=1 \
    xvfb-run -a -s "-screen 0 800x650x24 -nolisten tcp" bash -c '
    "$1" explorer /desktop=wendrel,800x650 "$2" >/dev/null 2>&1 &
    for ((i = 0; i < $4 * 10; i++)); do
        listed=$(tail -n +"$(($6 + 1))" "$5" | grep -c "GetGenericPortMappingEntry")
        ((listed >= 3)) && break
        sleep 0.1
    done
    ((listed >= 3)) || { echo "FAIL: wendrel.exe did not list the mappings"; exit 1; }
    "$3" "$7" "$8"' \
    run "$wineRun" "$winExe" "$(realpath "$shot")" "$kListedTimeoutS" "$LAB_REQUEST_LOG" \
    "$logStart" "$out" "$kSettleMs"
status=$?
((status == 0)) || exit "$status"
[[ $(stat -c %s "$out" 2>/dev/null || echo 0) -gt 10000 ]] || { echo "FAIL: no picture in $out"; exit 1; }
echo "ok   picture of wendrel.exe: $out"

# miniupnpd answers a POST on any path: its log is the witness of the path.
posts=$(tail -n +"$((logStart + 1))" "$LAB_REQUEST_LOG" | grep -E ': POST ')
if [[ -z $posts ]] || grep -qv -- ' : POST /ctl/IPConn (HTTP/1.1)$' <<<"$posts"; then
    echo "FAIL: POSTs not all to /ctl/IPConn:"
    echo "$posts"
    exit 1
fi
echo "ok   every POST of wendrel.exe went to /ctl/IPConn"
