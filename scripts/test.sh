#!/usr/bin/env bash
# Every test: the native build, the same under ASan and UBSan, the fuzz targets for a short while, the
# Windows cross build with its tests under Wine, and the packages made from those builds. Prints one summary
# line; exits non-zero if any stage failed. A run changes no tracked file: what it makes stays under build/.
#   scripts/test.sh [--update-screenshots]
#   --update-screenshots  rewrite the pictures of docs/screenshots/ (from the Wine run) and docs/guide/ instead
#                         of only checking the guide's
#   FUZZ_SECONDS=N   how long each fuzz target runs (default 30)
set -uo pipefail
cd "$(dirname "$0")/.."

guide=(--check) windows=()
case ${1:-} in
"") ;;
--update-screenshots) guide=() windows=(--update-screenshots) ;;
*)
    echo "usage: $0 [--update-screenshots]" >&2
    exit 2
    ;;
esac

scripts/deps.sh all || { echo "test: installing the build and test packages failed" >&2; exit 1; }

passed=0 failed=0 failures=()
stage() {
    local name=$1
    shift
    echo "==== $name" >&2
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        failures+=("$name")
    fi
}

native() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
}

fuzz() {
    local seconds=${FUZZ_SECONDS:-30}
    cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || return 1
    local ok=0 target name corpus seeds artifacts=build/fuzz/artifacts
    # A crashing input is written where the fuzzer is told, not into the source tree it runs in.
    mkdir -p "$artifacts"
    for target in build/fuzz/fuzz/*_fuzz; do
        [ -x "$target" ] || continue
        name=$(basename "$target" _fuzz)
        corpus=$(mktemp -d)
        seeds=()
        [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
        echo "fuzz: $name for ${seconds}s" >&2
        if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 \
            -artifact_prefix="$artifacts/$name-" "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1; then
            tail -40 "$corpus.log" >&2
            ok=1
        fi
        rm -rf "$corpus" "$corpus.log"
    done
    return $ok
}

stage linux native linux
stage guide scripts/guide-pictures.sh "${guide[@]}"
stage asan native asan
stage fuzz fuzz
stage windows scripts/windows-tests.sh "${windows[@]}"
stage package scripts/package-tests.sh

echo "test stages: ${failures[*]:-none} failed" >&2
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
