#!/usr/bin/env bash
# ctest over build/windows: gtest_discover_tests lists each exe's tests through Wine when ctest starts
# (PRE_TEST), and every test runs through Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

test_exes=()
while IFS= read -r exe; do [[ $exe == */tests/* ]] && test_exes+=("$exe"); done < <(product_exes)
if [ ${#test_exes[@]} -eq 0 ]; then
    say "ctest: build/windows has no test executables yet; skipped"
    exit 0
fi

log=$WORK/ctest.log
ctest_rc=0
timeout -k 10 1500 ctest --test-dir "$WIN_BUILD" --output-on-failure --no-tests=error --timeout 120 \
    </dev/null >"$log" 2>&1 || ctest_rc=$?
cat "$log"
ctest_passed=0 ctest_failed=0 ctest_skipped=0
line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
if [ -n "$line" ]; then
    ctest_failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    # ctest counts a skipped test as passed; say how many there were instead.
    ctest_skipped=$(grep -c -E '[*]{3}Skipped' "$log" || true)
    ctest_passed=$((total - ctest_failed - ctest_skipped))
    pass "$ctest_passed"
    skipped "$ctest_skipped"
    [ "$ctest_failed" -eq 0 ] || fail_many "$ctest_failed" "ctest: $ctest_failed test(s) failed"
fi
# A test exe that cannot list its tests (a crash at start-up, a missing DLL) stops ctest with a CMake error.
discovery_errors=$(grep -c 'CMake Error' "$log" || true)
if [ "$discovery_errors" -gt 0 ]; then
    fail "ctest: $discovery_errors test exe(s) could not list their tests under Wine (see the CMake error above)"
elif [ -z "$line" ]; then
    fail "ctest: no result (exit code $ctest_rc$([ "$ctest_rc" -eq 124 ] && echo ', timed out'))"
elif [ "$ctest_rc" -ne 0 ] && [ "$ctest_failed" -eq 0 ]; then
    fail "ctest: exit code $ctest_rc although no test failed"
fi
say "ctest: $ctest_passed passed, $ctest_failed failed, $ctest_skipped skipped in $((($(ms) - part_started) / 1000)) s"
