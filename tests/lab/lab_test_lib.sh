# What every lab test shares: the verdict helpers, reading JSON, and bringing
# the test's own lab up. Sourced by the lab tests after they set `lab` (the
# path of scripts/lab) and WENDREL_LAB_NAME; they end with
#   echo "$failures failure(s)"; ((failures == 0))

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
expect_no_match() { # what text pattern(ERE)
    if grep -Eq -- "$3" <<<"$2"; then fail "$1: '$3' found in: $2"; else pass "$1"; fi
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
