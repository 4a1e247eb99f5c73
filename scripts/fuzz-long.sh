#!/usr/bin/env bash
# The long fuzz run: each target of the fuzz preset for a fixed number of executions (1,000,000 unless told
# otherwise), one after the other, from its seeds. Prints one Markdown table row per target (executions,
# seconds, executions a second, outcome) for docs/reliability.md. An input that crashes a target is copied
# to fuzz/seeds/<target>/ under its libFuzzer name, so that once the fault is fixed it stays a seed.
# Not part of CI: scripts/test.sh runs every target for FUZZ_SECONDS (30) only.
#
# Usage: scripts/fuzz-long.sh [TARGET...]     (names without _fuzz; default: every target)
# Environment:
#   FUZZ_RUNS=N   executions per target (default 1000000)
#   FUZZ_JOBS=N   targets run side by side (default 1)
set -uo pipefail
cd "$(dirname "$0")/.."

runs=${FUZZ_RUNS:-1000000}
jobs=${FUZZ_JOBS:-1}
names=()
if [ $# -gt 0 ]; then
    for name in "$@"; do names+=("${name%_fuzz}_fuzz"); done
else
    # Every target fuzz/CMakeLists.txt declares.
    while read -r name; do names+=("$name"); done < <(sed -n 's/^tessera_fuzz_target(\([a-z0-9_]*\) .*/\1/p' fuzz/CMakeLists.txt)
fi
# Only the fuzz targets: the rest of the preset's tree is not needed here.
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz --target "${names[@]}" >/dev/null || {
    echo "fuzz-long: the fuzz build failed" >&2
    exit 1
}
targets=()
for name in "${names[@]}"; do targets+=("build/fuzz/fuzz/$name"); done

out=build/fuzz/long
mkdir -p "$out"
one() {
    local target=$1 name corpus log started seconds executed outcome crash
    name=$(basename "$target" _fuzz)
    [ -x "$target" ] || {
        echo "| $name | - | - | - | no such target |"
        return 1
    }
    corpus=$out/$name.corpus log=$out/$name.log
    rm -rf "$corpus" "$out/$name-"*
    mkdir -p "$corpus"
    local seeds=()
    [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
    started=$(date +%s)
    "$target" -runs="$runs" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/$name-" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1
    local status=$?
    seconds=$(($(date +%s) - started))
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    outcome="no crash"
    if [ $status -ne 0 ]; then
        outcome="FAILED (exit $status; see $log)"
        for crash in "$out/$name-"*; do
            [ -f "$crash" ] || continue
            mkdir -p "fuzz/seeds/$name"
            cp "$crash" "fuzz/seeds/$name/"
            outcome="$outcome; kept $(basename "$crash") as a seed"
        done
    fi
    echo "| $name | ${executed:-?} | $seconds | $(( ${executed:-0} / (seconds > 0 ? seconds : 1) )) | $outcome |"
    [ $status -eq 0 ]
}

echo "| target | executions | seconds | per second | outcome |"
echo "|---|---:|---:|---:|---|"
failed=0 running=0
for target in "${targets[@]}"; do
    if [ "$jobs" -le 1 ]; then
        one "$target" || failed=1
    else
        one "$target" &
        running=$((running + 1))
        if [ $running -ge "$jobs" ]; then
            wait -n || failed=1
            running=$((running - 1))
        fi
    fi
done
while [ $running -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
