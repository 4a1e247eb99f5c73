#!/usr/bin/env bash
# Cross-check: the same nvlogo save in the same folder, once through Wine and once natively, must write the
# same bytes. Differing outputs are kept in build/windows/xcheck-failures/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

XC=$WORK/xcheck
FAILURE_DIR=$WIN_BUILD/xcheck-failures
mkdir -p "$XC/in" "$XC/windows" "$XC/linux"
rm -rf "$FAILURE_DIR"
logos=()
for f in "$ROOT"/examples/*.bmp; do
    cp "$f" "$XC/in/"
    logos+=("$(basename "$f")")
done

# xcheck OUTPUT SAVE-OPTION... -- LOGO...
xcheck() {
    local out=$1 opts=() names=() win_logos=() linux_logos=() lrc=0 wrc=0 problem=
    shift
    while [ "$1" != -- ]; do
        opts+=("$1")
        shift
    done
    shift
    for l in "$@"; do
        names+=("${l%.bmp}")
        win_logos+=("in\\$l")
        linux_logos+=("in/$l")
    done
    (cd "$XC" && "$LINUX_NVLOGO" save "${opts[@]}" -o "linux/$out" "${linux_logos[@]}") </dev/null \
        >"$XC/linux/$out.log" 2>&1 || lrc=$?
    (cd "$XC" && timeout -k 5 60 wine64 "$WIN_NVLOGO_DOS" save "${opts[@]}" -o "windows\\$out" "${win_logos[@]}") \
        </dev/null >"$XC/windows/$out.log" 2>&1 || wrc=$?
    local lf=$XC/linux/$out wf=$XC/windows/$out
    if [ "$lrc" -ne 0 ] || [ "$wrc" -ne 0 ]; then
        problem="exit codes: linux $lrc, windows $wrc$(exit_note "$wrc")"
    elif [ ! -s "$lf" ] || [ ! -s "$wf" ]; then
        problem="empty or missing output"
    elif ! cmp -s "$lf" "$wf"; then
        problem="files differ: $(cmp "$lf" "$wf" 2>&1 | sed 's/^.*differ: //' || true); sizes linux $(stat -c %s "$lf"), windows $(stat -c %s "$wf")"
    fi
    if [ -z "$problem" ]; then
        pass
        return
    fi
    fail "cross-check save ${opts[*]} ${names[*]}: $problem"
    for side in linux windows; do
        [ -s "$XC/$side/$out.log" ] && sed "s/^/    $side: /" "$XC/$side/$out.log" | head -n 10
    done
    mkdir -p "$FAILURE_DIR"
    for side in linux windows; do
        [ -f "$XC/$side/$out" ] && cp "$XC/$side/$out" "$FAILURE_DIR/$side-$out"
    done
    return 0
}

if [ ${#logos[@]} -eq 0 ]; then
    fail "cross-check: no examples/*.bmp"
else
    for logo in "${logos[@]}"; do
        for mode in threshold error-diffusion indexed-order; do
            for level in 0 5 10; do
                xcheck "${logo%.bmp}-$mode-b$level.bit" -H "$mode" -b "$level" -- "$logo"
            done
        done
    done
    # The text format, and several logos in one file.
    xcheck "all-error-diffusion-b5.txt" -f hex -H error-diffusion -b 5 -- "${logos[@]}"
fi
[ "$part_failed" -eq 0 ] || say "cross-check: differing outputs kept in ${FAILURE_DIR#"$ROOT"/}/"
part_summary cross-check
