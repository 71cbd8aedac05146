# What every lab test shares: its arguments, the verdict helpers, reading
# JSON, bringing the test's own lab up and taking it down. Sourced with the
# test's arguments:
#   source lab_test_lib.sh [--wine WINE_RUN] WENDREL_CLI LAB_SCRIPT
# With --wine, WENDREL_CLI is a Windows program run through WINE_RUN
# (scripts/wine-run) on the client host: a wineserver sends from the network
# namespace it started in, so it must start there. The test then sets
# WENDREL_LAB_NAME and ends with
#   echo "$failures failure(s)"; ((failures == 0))

wineRun=
if [[ ${1:-} == --wine ]]; then
    wineRun=${2:?path of scripts/wine-run}
    shift 2
fi
cli=${1:?path of wendrel-cli}
lab=${2:?path of scripts/lab}
runner=()
[[ -n $wineRun ]] && runner=("$wineRun")
failures=0

# Each run remembers its gateway in a cache folder of its own.
export XDG_CACHE_HOME
XDG_CACHE_HOME=$(mktemp -d)

lab_cleanup() {
    rm -rf "$XDG_CACHE_HOME"
    # the wineserver would keep the client's namespace alive
    [[ -z $wineRun ]] || "$lab" exec "$wineRun" --release >/dev/null 2>&1
    "$lab" down >/dev/null 2>&1
}
trap lab_cleanup EXIT
trap 'exit 1' INT TERM

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
expect_no_match() { # what text pattern(ERE)
    if grep -Eq -- "$3" <<<"$2"; then fail "$1: '$3' found in: $2"; else pass "$1"; fi
}

# Runs wendrel-cli on the lab's client host (through Wine with --wine); sets
# out, err and status. wendrel-cli.exe ends its lines with CR LF, dropped here.
run_cli() {
    local errFile
    errFile=$(mktemp)
    out=$("$lab" exec "${runner[@]}" "$cli" "$@" 2>"$errFile")
    status=$?
    err=$(<"$errFile")
    rm -f "$errFile"
    out=${out//$'\r'/}
    err=${err//$'\r'/}
}

json() { # python expression over `j` read from stdin
    python3 -c 'import json, sys; j = json.load(sys.stdin); v = eval(sys.argv[1]); print(v if isinstance(v, str) else json.dumps(v, ensure_ascii=False))' "$1"
}

# A run that was killed (a ctest time-out) leaves its lab behind. Lab names end
# in the PID of their run: takes down the labs whose run is gone.
#   take_down_stale_labs GLOB PREFIX   (GLOB: their names; PREFIX: a pattern
#                                       for what stands before the PID)
take_down_stale_labs() {
    local gatewayNs staleName
    for gatewayNs in /run/netns/wdl-$1-gw; do
        [[ -e $gatewayNs ]] || continue
        staleName=${gatewayNs#/run/netns/wdl-}
        staleName=${staleName%-gw}
        kill -0 "${staleName#$2}" 2>/dev/null && continue
        # its wineserver has no time limit and would keep the namespace alive
        [[ -z ${wineRun:-} ]] ||
            WENDREL_LAB_NAME=$staleName "$lab" exec "$wineRun" --release >/dev/null 2>&1
        WENDREL_LAB_NAME=$staleName "$lab" down >/dev/null 2>&1 || true
    done
}

# `scripts/lab up` with these options, then its info as variables. Where no
# namespace can be made the test is skipped (77), except in CI.
bring_lab_up() {
    local upOutput upStatus
    upOutput=$("$lab" up "$@" 2>&1)
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
}
