#!/usr/bin/env bash
# The window against miniupnpd: builds a lab of its own, adds one mapping with
# upnpc, runs the in-process window test on the lab's client host under Xvfb,
# and checks in miniupnpd's log that every POST went to the control URL.
#   gui_lab_test.sh GUI_LAB_TESTS LAB_SCRIPT
set -uo pipefail

tests=${1:?path of gui_lab_tests}
lab=${2:?path of scripts/lab}
export WENDREL_LAB_NAME=tg-$$

cleanup() { "$lab" down >/dev/null 2>&1; }
trap cleanup EXIT
trap 'exit 1' INT TERM

# Labs of killed runs (a ctest time-out) are taken down first.
for gatewayNs in /run/netns/wdl-tg-*-gw; do
    [[ -e $gatewayNs ]] || continue
    staleName=${gatewayNs#/run/netns/wdl-}
    staleName=${staleName%-gw}
    kill -0 "${staleName#tg-}" 2>/dev/null ||
        WENDREL_LAB_NAME=$staleName "$lab" down >/dev/null 2>&1 || true
done

if ! command -v xvfb-run >/dev/null; then
    [[ ${CI:-} == true ]] && { echo "FAIL: xvfb-run is not installed (CI=true)"; exit 1; }
    echo "SKIP: xvfb-run is not installed"
    exit 77
fi

upOutput=$("$lab" up 2>&1)
upStatus=$?
if ((upStatus == 77)); then
    [[ ${CI:-} == true ]] && { echo "FAIL: the lab tier must run in CI, but: $upOutput"; exit 1; }
    echo "SKIP: $upOutput"
    exit 77
fi
((upStatus == 0)) || { echo "FAIL: lab did not come up: $upOutput"; exit 1; }
eval "$("$lab" info)"

"$lab" exec upnpc -u "$LAB_DESCRIPTION_URL" -e "from upnpc" -a "$LAB_CLIENT_ADDRESS" 27016 27015 UDP \
    >/dev/null 2>&1 || { echo "FAIL: upnpc could not add the first mapping"; exit 1; }
logStart=$(wc -l <"$LAB_REQUEST_LOG")

"$lab" exec env LAB_CLIENT_ADDRESS="$LAB_CLIENT_ADDRESS" LAB_MODEL_NAME="$LAB_MODEL_NAME" \
    LAB_EXTERNAL_ADDRESS="$LAB_EXTERNAL_ADDRESS" LANG=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$tests"
status=$?
((status == 0)) || exit "$status"

# miniupnpd answers a POST on any path: its log is the witness of the path.
posts=$(tail -n +"$((logStart + 1))" "$LAB_REQUEST_LOG" | grep -E ': POST ')
if [[ -z $posts ]] || grep -qv -- ' : POST /ctl/IPConn (HTTP/1.1)$' <<<"$posts"; then
    echo "FAIL: POSTs not all to /ctl/IPConn:"
    echo "$posts"
    exit 1
fi
echo "ok   every POST of the window went to /ctl/IPConn"
