#!/usr/bin/env bash
# The window on a multi-homed client (scripts/lab up --multi): each gateway
# holds one mapping added by upnpc; the in-process window test checks that the
# window found one gateway and lists that gateway's table.
#   gui_multi_lab_test.sh GUI_LAB_TESTS LAB_SCRIPT
set -uo pipefail

tests=${1:?path of gui_lab_tests}
lab=${2:?path of scripts/lab}
export WENDREL_LAB_NAME=tm-$$

testLog=$(mktemp)
cleanup() {
    rm -f "$testLog"
    "$lab" down >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 1' INT TERM

for gatewayNs in /run/netns/wdl-tm-*-gw; do
    [[ -e $gatewayNs ]] || continue
    staleName=${gatewayNs#/run/netns/wdl-}
    staleName=${staleName%-gw}
    kill -0 "${staleName#tm-}" 2>/dev/null ||
        WENDREL_LAB_NAME=$staleName "$lab" down >/dev/null 2>&1 || true
done

if ! command -v xvfb-run >/dev/null; then
    [[ ${CI:-} == true ]] && { echo "FAIL: xvfb-run is not installed (CI=true)"; exit 1; }
    echo "SKIP: xvfb-run is not installed"
    exit 77
fi

upOutput=$("$lab" up --multi 2>&1)
upStatus=$?
if ((upStatus == 77)); then
    [[ ${CI:-} == true ]] && { echo "FAIL: the lab tier must run in CI, but: $upOutput"; exit 1; }
    echo "SKIP: $upOutput"
    exit 77
fi
((upStatus == 0)) || { echo "FAIL: lab did not come up: $upOutput"; exit 1; }
eval "$("$lab" info)"

"$lab" exec upnpc -u "$LAB_DESCRIPTION_URL" -e "first gateway" -a "$LAB_CLIENT_ADDRESS" 27016 27015 UDP \
    >/dev/null 2>&1 || { echo "FAIL: upnpc could not add the first gateway's mapping"; exit 1; }
"$lab" exec upnpc -u "$LAB_DESCRIPTION2_URL" -e "second gateway" -a "$LAB_CLIENT2_ADDRESS" 27026 27025 UDP \
    >/dev/null 2>&1 || { echo "FAIL: upnpc could not add the second gateway's mapping"; exit 1; }

"$lab" exec env LANG=C.UTF-8 \
    LAB_CLIENT_ADDRESS="$LAB_CLIENT_ADDRESS" LAB_MODEL_NAME="$LAB_MODEL_NAME" \
    LAB_EXTERNAL_ADDRESS="$LAB_EXTERNAL_ADDRESS" LAB_CLIENT2_ADDRESS="$LAB_CLIENT2_ADDRESS" \
    LAB_MODEL2_NAME="$LAB_MODEL2_NAME" LAB_EXTERNAL2_ADDRESS="$LAB_EXTERNAL2_ADDRESS" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$tests" --gtest_filter='LabWindowTest.MultiHomed*' | tee "$testLog"
status=${PIPESTATUS[0]}
((status == 0)) || exit "$status"
# A filter that matches nothing, or a skip, would pass silently.
grep -q '^\[  PASSED  \] 1 test\.$' "$testLog" &&
    ! grep -q '^\[  SKIPPED \]' "$testLog" || {
    echo "FAIL: the multi-homed window test did not run"
    exit 1
}
