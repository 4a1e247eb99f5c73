# shellcheck shell=bash
# Sourced by scripts/windows-tests.sh and by each check beside this file: where things are, how results are
# counted, and the helpers that several checks share.
#
# A check is one file here, run as a process of its own (`part NAME` in windows-tests.sh) inside the sandbox
# that windows-tests.sh set up: Xvfb, a throw-away Wine prefix with a persistent server, and the private
# namespaces. It reports through pass and fail, which append to $TESSERA_WINE_RESULTS, so the summary sees
# every result however the check ends; processes it starts go through track so that they stop with it.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WIN_BUILD=$ROOT/build/windows
WIN_NVLOGO=$WIN_BUILD/cli/nvlogo.exe
WIN_NVLOGO_DOS='Z:'${WIN_NVLOGO//\//\\}
LINUX_NVLOGO=$ROOT/build/linux/cli/nvlogo
LINUX_PRINTER=$ROOT/build/linux/tools/nvlogo-printer
# Screenshots of the window always land here; docs/screenshots/ changes only with --update-screenshots.
SCREENSHOT_DIR=$WIN_BUILD/screenshots
WINE_LOADER=/usr/lib/wine/wine64
OBJDUMP=x86_64-w64-mingw32-objdump
shopt -s nullglob

say() { echo "windows-tests: $*"; }
ms() { echo $(($(date +%s%N) / 1000000)); }
# Wine's Z: drive is the Unix root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ---- results: lines "pass N", "skip N" and "fail N WHY" in $TESSERA_WINE_RESULTS; this check's own counts
part_passed=0
part_failed=0
part_started=$(ms)
record() { [ -z "${TESSERA_WINE_RESULTS:-}" ] || echo "$*" >>"$TESSERA_WINE_RESULTS"; }
pass() { # [COUNT]
    part_passed=$((part_passed + ${1:-1}))
    record pass "${1:-1}"
}
fail() { # WHY
    part_failed=$((part_failed + 1))
    record fail 1 "$1"
    say "FAIL: $1"
}
# COUNT failures under one line, which the output above has explained already.
fail_many() { # COUNT WHY
    part_failed=$((part_failed + $1))
    record fail "$1" "$2"
}
skipped() { record skip "$1"; }
# NAME [EXTRA]: the check's closing line.
part_summary() {
    say "$1: $part_passed passed, $part_failed failed${2:+, $2} in $((($(ms) - part_started) / 1000)) s"
}

# The totals of every check so far: sets total_passed, total_failed, total_skipped and failure_lines.
tally() {
    total_passed=0 total_failed=0 total_skipped=0 failure_lines=()
    [ -f "${TESSERA_WINE_RESULTS:-}" ] || return 0
    local kind count why
    while read -r kind count why; do
        case $kind in
        pass) total_passed=$((total_passed + count)) ;;
        skip) total_skipped=$((total_skipped + count)) ;;
        fail)
            total_failed=$((total_failed + count))
            failure_lines+=("$why")
            ;;
        esac
    done <"$TESSERA_WINE_RESULTS"
}
summary() { # [NOTE]
    tally
    local note=${1:-}
    [ "$total_skipped" -eq 0 ] || note=${note:+$note, }"$total_skipped test(s) skipped"
    echo "windows: $total_passed passed, $total_failed failed${note:+ ($note)}"
}

# ---- processes a check starts: stopped when it ends, whatever way it ends
TRACKED_PIDS=()
track() { TRACKED_PIDS+=("$1"); }
# Stops one process of this run: SIGTERM lets it finish its connections, SIGKILL if it does not. A reaped PID
# leaves the list at once, since the system may hand it to another process.
stop_pid() {
    local pid=$1 rest=() p
    for p in "${TRACKED_PIDS[@]}"; do [ "$p" = "$pid" ] || rest+=("$p"); done
    TRACKED_PIDS=("${rest[@]}")
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
stop_tracked() {
    local pid
    for pid in "${TRACKED_PIDS[@]}"; do stop_pid "$pid"; done
}
trap stop_tracked EXIT

# The exes of the current build graph; a file left over from a removed target is not part of the product.
product_exes() {
    local exe
    while IFS= read -r exe; do
        [ -f "$WIN_BUILD/$exe" ] && echo "$WIN_BUILD/$exe"
    done < <(ninja -C "$WIN_BUILD" -t targets all | sed -n 's/^\([^:]*\.exe\): CXX_EXECUTABLE_LINKER.*/\1/p' | sort)
}

# start_printer DIR OPTION...: the Linux virtual printer with its files in DIR, on a free loopback port; sets
# printer_dir, printer_port and printer_pid, or counts a failure and returns 1. Not to be called in a
# subshell: the PID must reach this check's list.
start_printer() {
    local dir=$1 pid
    shift
    printer_dir=$dir
    printer_port=
    mkdir -p "$dir/prints"
    rm -f "$dir/ready"
    "$LINUX_PRINTER" --listen 127.0.0.1:0 --ready-file "$dir/ready" --nv "$dir/nv.bit" --out "$dir/prints" "$@" \
        </dev/null >"$dir/printer.log" 2>"$dir/printer.err" &
    pid=$!
    track "$pid"
    printer_pid=$pid
    for _ in $(seq 100); do
        # The ready file appears whole once the printer listens: HOST:PORT and a newline.
        if [ -e "$dir/ready" ]; then
            printer_port=$(sed -n 's/^127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$dir/ready")
            [ -n "$printer_port" ] && return 0
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "the virtual printer in $dir did not start (first line: '$(head -n 1 "$dir/printer.log" 2>/dev/null)')"
    show_printer_log "$dir"
    return 1
}

show_printer_log() { # DIR
    [ -s "$1/printer.log" ] && tail -n 10 "$1/printer.log" | sed 's/^/    printer: /'
    [ -s "$1/printer.err" ] && tail -n 5 "$1/printer.err" | sed 's/^/    printer stderr: /'
    return 0
}

# wine_nvlogo DIR LOG-NAME SECONDS ARG...: nvlogo.exe run in DIR, its output in DIR/logs/LOG-NAME.out and
# .err; sets wrc (its exit code) and welapsed (ms).
wine_nvlogo() {
    local dir=$1 log=$2 limit=$3 t0
    shift 3
    mkdir -p "$dir/logs"
    t0=$(ms)
    wrc=0
    (cd "$dir" && timeout -k 5 "$limit" wine64 "$WIN_NVLOGO_DOS" "$@") \
        </dev/null >"$dir/logs/$log.out" 2>"$dir/logs/$log.err" || wrc=$?
    welapsed=$(($(ms) - t0))
}

show_run_logs() { # DIR LOG-NAME: the first lines of a wine_nvlogo run's output
    local stream
    for stream in out err; do
        [ -s "$1/logs/$2.$stream" ] && head -n 10 "$1/logs/$2.$stream" | sed "s/^/    std$stream: /"
    done
    return 0
}

# Words for an exit code that timeout or Wine gave.
exit_note() {
    case $1 in
    124) echo " (timed out)" ;;
    5) echo " (crashed)" ;;
    esac
}

# Restarts the persistent server, so that it reads what regedit changed.
restart_wineserver() {
    timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1 || true
    timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || true
}
