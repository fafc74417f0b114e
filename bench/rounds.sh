# Shared by the benchmarks that run their commands in turn, sourced right after HERE (the
# benchmark's folder) is set: ROUNDS (the first argument, default 5), REPO, BUILD, A (the
# dravelin-dicom measured), B (a second one, optional), R (the data root) and BIN, which holds
# `measure` (bench/scan/measure.c, built here). KEYS and CMDS name and give the commands, T is a
# scratch folder.
ROUNDS=${1:-5}
REPO=$(cd "$HERE/../.." && pwd)
BUILD=${BUILD:-$REPO/build}
A=${A:-$BUILD/dravelin-dicom}
B=${B:-}
R=${R:-$HOME/bench-data}
BIN=$R/bin
mkdir -p "$BIN"
[ "$BIN/measure" -nt "$REPO/bench/scan/measure.c" ] || gcc -O2 -o "$BIN/measure" "$REPO/bench/scan/measure.c"

# one KEY-INDEX CMD: appends "wall cpu peakKiB" of one run to $T/INDEX (CMD is split at spaces)
one() {
    set -f
    # shellcheck disable=SC2086
    "$BIN/measure" "$T/t" $2 >/dev/null 2>&1 || true
    set +f
    cat "$T/t" >>"$T/$1"
}
# Runs CMDS in turn for ROUNDS rounds after a warm-up round; LOADS gets the load before each.
run_rounds() {
    LOADS=()
    for round in $(seq 0 "$ROUNDS"); do
        [ "$round" -gt 0 ] && LOADS+=("$(cut -d' ' -f1 /proc/loadavg)")
        for i in "${!KEYS[@]}"; do
            one "$i" "${CMDS[$i]}"
            # the warm-up round is not counted
            [ "$round" -eq 0 ] && : >"$T/$i"
        done
    done
    return 0
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { cut -d' ' -f"$2" "$T/$1" | median; }
index() { for i in "${!KEYS[@]}"; do [ "${KEYS[$i]}" = "$1" ] && echo "$i"; done; }
# ratio KEY_A KEY_B COLUMN: median over rounds of A/B
ratio() {
    paste -d' ' "$T/$(index "$1")" "$T/$(index "$2")" |
        awk -v c="$3" '{ print ($(c + 3) > 0 ? $(c) / $(c + 3) : 0) }' | median
}
