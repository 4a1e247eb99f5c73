#!/bin/bash
# Runs the Windows build under Wine 8 and compares it with the Linux build:
#   - every .exe of build/windows imports system DLLs only (a static build runs on a bare Windows);
#   - ctest over build/windows, each test exe run through Wine;
#   - nvlogo.exe and the Linux nvlogo write byte-identical files for every sample logo, half-toning mode and a
#     spread of brightness levels, so that a floating-point difference between the two compilers shows up;
#   - nvlogo.exe uploads, prints, erases and sends over Winsock to the Linux virtual printer on loopback, and
#     fails with exit code 1 when that printer refuses, drops the connection or is not there at all;
#   - nvlogo.exe uploads through COM1, mapped to a pseudo-terminal, delivering exactly the saved stream and
#     1D 61 00, and fails with exit code 1 when the reader at the other end stops;
#   - Tessera.exe, driven from outside, starts with its start values, restores its settings files, adds a
#     logo, uploads the list to the virtual printer and writes both settings files at Exit (screenshots of
#     both runs land in docs/screenshots/);
#   - nvlogo-printer.exe serves the Linux nvlogo and keeps exactly what was uploaded.
#
# Usage: scripts/windows-tests.sh [--no-build]
#   Brings build/windows, the Linux nvlogo and nvlogo-printer up to date first (configuring a missing build),
#   so that both sides are built from the same sources.
#   --no-build  use the binaries as they are; build only what is missing.
# Environment:
#   KEEP_WINE_WORKDIR=1   keep the scratch folder (Wine prefix, logs, outputs) and print where it is
#   CTEST_PARALLEL_LEVEL  passed on to ctest (default: one test at a time)
#
# Wine runs on a private Xvfb display with a throw-away prefix, inside a private mount namespace in which
# /dev/null covers every host serial and parallel device: Wine maps them to COM/LPT ports on its own, and a
# test must never write to real hardware. A private network namespace keeps Wine on loopback.
# Needs root (or unprivileged user namespaces), and the packages of scripts/deps.sh.
set -euo pipefail

SELF=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
ROOT=$(cd "$(dirname "$SELF")/.." && pwd)
cd "$ROOT"

WIN_BUILD=$ROOT/build/windows
WIN_NVLOGO=$WIN_BUILD/cli/nvlogo.exe
LINUX_NVLOGO=$ROOT/build/linux/cli/nvlogo
LINUX_PRINTER=$ROOT/build/linux/tools/nvlogo-printer
FAILURE_DIR=$WIN_BUILD/xcheck-failures
WINE_LOADER=/usr/lib/wine/wine64
OBJDUMP=x86_64-w64-mingw32-objdump

say() { echo "windows-tests: $*"; }
ms() { echo $(($(date +%s%N) / 1000000)); }

build=true
for arg in "$@"; do
    case $arg in
    --no-build) build=false ;;
    -h | --help)
        sed -n '2,/^set -euo/p' "$SELF" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "usage: $0 [--no-build]" >&2
        exit 2
        ;;
    esac
done

# ---------------------------------------------------------------------------------------------------------------
# Outside the namespaces: check the tools, build what is missing, then run this script again inside them.
if [ -z "${TESSERA_WINE_SANDBOX:-}" ]; then
    T_START=$(ms)
    missing=()
    for tool in cmake ctest ninja Xvfb "$WINE_LOADER" /usr/lib/wine/wineserver wineboot "$OBJDUMP" \
        x86_64-w64-mingw32-g++-posix unshare mount timeout cmp stat; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        say "missing tools: ${missing[*]} (install the packages of scripts/deps.sh)"
        echo "windows: 0 passed, 1 failed (tools missing)"
        exit 1
    fi

    built() {
        "$@" </dev/null || {
            say "'$*' failed"
            echo "windows: 0 passed, 1 failed (build failed)"
            exit 1
        }
    }
    if [ ! -f "$WIN_BUILD/build.ninja" ]; then
        built cmake --preset windows
    fi
    if $build || [ ! -f "$WIN_NVLOGO" ]; then
        built cmake --build --preset windows
    fi
    linux_targets=()
    if $build; then
        linux_targets=(nvlogo nvlogo-printer)
    else
        [ -x "$LINUX_NVLOGO" ] || linux_targets+=(nvlogo)
        [ -x "$LINUX_PRINTER" ] || linux_targets+=(nvlogo-printer)
    fi
    if [ ! -f "$ROOT/build/linux/build.ninja" ] && [ ${#linux_targets[@]} -gt 0 ]; then
        built cmake --preset linux
    fi
    if [ ${#linux_targets[@]} -gt 0 ]; then
        built cmake --build --preset linux --target "${linux_targets[@]}"
    fi
    say "builds ready in $((($(ms) - T_START) / 1000)) s"

    # Mount and network namespaces; as a normal user they need a user namespace of their own.
    if [ "$(id -u)" -eq 0 ]; then base=(unshare --mount --propagation private); else base=(unshare --map-root-user --mount --propagation private); fi
    if ! "${base[@]}" true </dev/null >/dev/null 2>&1; then
        say "cannot create a private mount namespace (${base[*]} failed); refusing to run Wine where it could"
        say "open the host's serial ports. Run as root, or allow unprivileged user namespaces."
        echo "windows: 0 passed, 1 failed (no mount namespace)"
        exit 1
    fi
    netns=0
    if ! command -v ip >/dev/null 2>&1 && ! command -v python3 >/dev/null 2>&1; then
        say "warning: neither ip (iproute2) nor python3 to bring up loopback; Wine keeps the host's network"
    elif ! "${base[@]}" --net true </dev/null >/dev/null 2>&1; then
        say "warning: no private network namespace; Wine keeps the host's network"
    else
        netns=1
    fi
    ns=("${base[@]}")
    [ "$netns" -eq 1 ] && ns+=(--net)
    TESSERA_WINE_SANDBOX=1 TESSERA_WINE_NETNS=$netns TESSERA_T_START=$T_START exec "${ns[@]}" -- bash "$SELF" "$@" </dev/null
fi

# ---------------------------------------------------------------------------------------------------------------
# Inside the namespaces.
T_START=${TESSERA_T_START:-$(ms)}
shopt -s nullglob

passed=0
failed=0
failures=()
pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    failures+=("$1")
    say "FAIL: $1"
}
summary() { echo "windows: $passed passed, $failed failed${1:+ ($1)}"; }

WORK=
XVFB_PID=
PRINTER_PIDS=()
# Stops one virtual printer of this run: SIGTERM lets it finish its connections, SIGKILL if it does not. A
# reaped PID leaves the list at once, since the system may hand it to another process.
stop_pid() {
    local pid=$1 rest=() p
    for p in "${PRINTER_PIDS[@]}"; do [ "$p" = "$pid" ] || rest+=("$p"); done
    PRINTER_PIDS=("${rest[@]}")
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    local rc=$?
    set +e
    for pid in "${PRINTER_PIDS[@]}"; do stop_pid "$pid"; done
    if [ -n "$WORK" ] && [ -d "$WORK/prefix" ]; then
        # Stops this prefix's server and every Wine process of it, nothing else.
        timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
        timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$XVFB_PID" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    if [ -n "$WORK" ]; then
        if [ "${KEEP_WINE_WORKDIR:-}" = 1 ]; then
            say "kept $WORK"
        else
            rm -rf "$WORK"
        fi
    fi
    exit "$rc"
}
trap cleanup EXIT
interrupted() {
    fail "interrupted by $1"
    summary
    exit "$2"
}
trap 'interrupted SIGINT 130' INT
trap 'interrupted SIGTERM 143' TERM

# Stops the run: nothing after a failed setup step could be trusted.
die() {
    local why=$1 log=${2:-}
    say "$why"
    if [ -n "$log" ] && [ -s "$log" ]; then
        say "last lines of $(basename "$log"):"
        tail -n 30 "$log" | sed 's/^/    /'
    fi
    fail "setup: $why"
    summary "setup failed"
    exit 1
}

# Sets lo up, with iproute2 if present, else with the ioctl itself (python3 is a build dependency anyway).
loopback_up() {
    if command -v ip >/dev/null 2>&1; then
        ip link set lo up
    elif command -v python3 >/dev/null 2>&1; then
        python3 -c '
import fcntl, socket, struct
SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
flags = struct.unpack("16sH14x", fcntl.ioctl(s, SIOCGIFFLAGS, struct.pack("16sH14x", b"lo", 0)))[1]
fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14x", b"lo", flags | IFF_UP))'
    else
        return 1
    fi
}

# Wine's Z: drive is the Unix root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# 1. Cover the host's serial and parallel devices with /dev/null, and prove it worked. The bind mounts must
# stay in the private namespace: made in the caller's they would outlive this run.
if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink "/proc/$PPID/ns/mnt" 2>/dev/null || true)" ]; then
    die "not in a private mount namespace; run scripts/windows-tests.sh without TESSERA_WINE_SANDBOX set"
fi
null_dev=$(stat -Lc '%t:%T' /dev/null)
hidden=0
for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/rfcomm* /dev/lp[0-9]* /dev/parport*; do
    [ -e "$dev" ] || continue
    mount --bind /dev/null "$dev" || die "cannot cover $dev with /dev/null"
    [ "$(stat -Lc '%t:%T' "$dev")" = "$null_dev" ] || die "$dev is still a real device after the bind mount"
    hidden=$((hidden + 1))
done
if [ "${TESSERA_WINE_NETNS:-0}" = 1 ]; then
    # Loopback is down in a new network namespace, and tests talk to fakes on 127.0.0.1.
    loopback_up || die "cannot bring up loopback in the private network namespace"
fi

# 2. A clean environment for Wine. The overrides must be set before the first Wine command, or wineboot
# offers to download its .NET and browser engines.
for var in $(compgen -e); do
    case $var in LC_* | WINE* | DISPLAY | XAUTHORITY | WAYLAND_DISPLAY | DBUS_SESSION_BUS_ADDRESS | XDG_*) unset "$var" ;; esac
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tessera-wine.XXXXXX")
mkdir -p "$WORK/home"
export HOME=$WORK/home WINEPREFIX=$WORK/prefix
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" LANG=C.UTF-8
export PATH=/usr/lib/wine:$PATH

# 3. Private X server; -displayfd writes the display number once it is ready.
: >"$WORK/display"
Xvfb -displayfd 5 -screen 0 1600x1200x24 -nolisten tcp 5>"$WORK/display" 2>"$WORK/xvfb.log" </dev/null &
XVFB_PID=$!
for _ in $(seq 200); do
    [ -s "$WORK/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || die "Xvfb exited" "$WORK/xvfb.log"
    sleep 0.05
done
[ -s "$WORK/display" ] || die "Xvfb did not start within 10 s" "$WORK/xvfb.log"
export DISPLAY=:$(tr -d '\n' <"$WORK/display")

# 4. Throw-away prefix, with the fonts fix and the registry settings. The settings take effect when the next
# server starts, so the first server is waited out.
T_PREFIX=$(ms)
timeout -k 5 180 wineboot -i </dev/null >"$WORK/wineboot.log" 2>&1 || die "wineboot -i failed or timed out" "$WORK/wineboot.log"
timeout -k 5 180 wineserver -w </dev/null >>"$WORK/wineboot.log" 2>&1 || die "the first wineserver did not exit" "$WORK/wineboot.log"
fonts=(/usr/share/wine/fonts/*)
if [ ${#fonts[@]} -gt 0 ]; then
    # Debian's Wine 8.0 looks for its fonts in the wrong folder; without them every face becomes DejaVu Sans.
    ln -sf "${fonts[@]}" "$WINEPREFIX/drive_c/windows/Fonts/"
else
    say "warning: /usr/share/wine/fonts is empty (fonts-wine missing); dialogs will use other fonts"
fi
timeout -k 5 60 wine64 regedit /S "$(winpath "$ROOT/scripts/wine-env.reg")" </dev/null >"$WORK/regedit.log" 2>&1 ||
    die "regedit failed" "$WORK/regedit.log"
timeout -k 5 60 wineserver -w </dev/null >>"$WORK/regedit.log" 2>&1 || die "wineserver did not exit after regedit" "$WORK/regedit.log"
grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" ||
    die "the registry settings did not reach the prefix: a crash would open a dialog and hang"

# 5. Persistent server with no tie to our pipes (otherwise ctest waits about 2.5 s per test for the pipe to
# close), and a warm-up run that starts the services and the desktop.
timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || die "wineserver -p failed"
timeout -k 5 60 wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || die "the warm-up run under Wine failed"
T_READY=$(ms)
say "DISPLAY=$DISPLAY, $hidden host device(s) covered, network namespace: $([ "${TESSERA_WINE_NETNS:-0}" = 1 ] && echo yes || echo no), prefix ready in $(((T_READY - T_PREFIX) / 1000)) s"

# ---------------------------------------------------------------------------------------------------------------
# a. Imports: a static build needs no DLL beside the exe. Anything outside this list is a DLL that a bare
# Windows does not have (the mingw runtime, a UCRT forwarder on an old system, a third-party library).
SYSTEM_DLLS=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll imm32.dll iphlpapi.dll
 kernel32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll setupapi.dll shell32.dll shlwapi.dll
 user32.dll uxtheme.dll version.dll winmm.dll winspool.drv ws2_32.dll "
SYSTEM_DLLS=${SYSTEM_DLLS//$'\n'/ }
exes=()
# The exes of the current build graph; a file left over from a removed target is not part of the product.
while IFS= read -r exe; do
    [ -f "$WIN_BUILD/$exe" ] && exes+=("$WIN_BUILD/$exe")
done < <(ninja -C "$WIN_BUILD" -t targets all | sed -n 's/^\([^:]*\.exe\): CXX_EXECUTABLE_LINKER.*/\1/p' | sort)
[ ${#exes[@]} -gt 0 ] || fail "imports: build/windows has no exe"
import_ok=0
for exe in "${exes[@]}"; do
    rel=${exe#"$WIN_BUILD"/}
    dlls=$("$OBJDUMP" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ') || dlls=
    foreign=()
    for dll in $dlls; do [[ $SYSTEM_DLLS == *" $dll "* ]] || foreign+=("$dll"); done
    if [ -z "$dlls" ]; then
        fail "imports of $rel: objdump found no import table"
    elif [ ${#foreign[@]} -gt 0 ]; then
        fail "imports of $rel: needs non-system DLLs: ${foreign[*]}"
    else
        pass
        import_ok=$((import_ok + 1))
    fi
done
say "imports: $import_ok of ${#exes[@]} exe(s) need system DLLs only ($("$OBJDUMP" -p "$WIN_NVLOGO" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')for nvlogo.exe)"

# ---------------------------------------------------------------------------------------------------------------
# b. ctest: gtest_discover_tests lists each exe's tests through Wine when ctest starts (PRE_TEST).
T_CTEST=$(ms)
test_exes=()
for exe in "${exes[@]}"; do [[ $exe == */tests/* ]] && test_exes+=("$exe"); done
ctest_passed=0
ctest_failed=0
ctest_skipped=0
if [ ${#test_exes[@]} -eq 0 ]; then
    say "ctest: build/windows has no test executables yet; skipped"
else
    ctest_rc=0
    timeout -k 10 1500 ctest --test-dir "$WIN_BUILD" --output-on-failure --no-tests=error --timeout 120 \
        </dev/null >"$WORK/ctest.log" 2>&1 || ctest_rc=$?
    cat "$WORK/ctest.log"
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$WORK/ctest.log" | tail -n 1 || true)
    if [ -n "$line" ]; then
        ctest_failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
        # ctest counts a skipped test as passed; say how many there were instead.
        ctest_skipped=$(grep -c -E '[*]{3}Skipped' "$WORK/ctest.log" || true)
        ctest_passed=$((total - ctest_failed - ctest_skipped))
        passed=$((passed + ctest_passed))
        failed=$((failed + ctest_failed))
        [ "$ctest_failed" -eq 0 ] || failures+=("ctest: $ctest_failed test(s) failed")
    fi
    # A test exe that cannot list its tests (a crash at start-up, a missing DLL) stops ctest with a CMake error.
    discovery_errors=$(grep -c 'CMake Error' "$WORK/ctest.log" || true)
    if [ "$discovery_errors" -gt 0 ]; then
        fail "ctest: $discovery_errors test exe(s) could not list their tests under Wine (see the CMake error above)"
    elif [ -z "$line" ]; then
        fail "ctest: no result (exit code $ctest_rc$([ "$ctest_rc" -eq 124 ] && echo ', timed out'))"
    elif [ "$ctest_rc" -ne 0 ] && [ "$ctest_failed" -eq 0 ]; then
        fail "ctest: exit code $ctest_rc although no test failed"
    fi
    say "ctest: $ctest_passed passed, $ctest_failed failed, $ctest_skipped skipped in $((($(ms) - T_CTEST) / 1000)) s"
fi

# ---------------------------------------------------------------------------------------------------------------
# c. Cross-check: the same command in the same folder, once through Wine and once natively.
T_XCHECK=$(ms)
XC=$WORK/xcheck
mkdir -p "$XC/in" "$XC/windows" "$XC/linux"
rm -rf "$FAILURE_DIR"
logos=()
for f in "$ROOT"/examples/*.bmp; do
    cp "$f" "$XC/in/"
    logos+=("$(basename "$f")")
done
WIN_NVLOGO_DOS=$(winpath "$WIN_NVLOGO")
xc_passed=0
xc_failed=0

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
        problem="exit codes: linux $lrc, windows $wrc"
        [ "$wrc" -ne 124 ] || problem+=" (timed out)"
        [ "$wrc" -ne 5 ] || problem+=" (crashed)"
    elif [ ! -s "$lf" ] || [ ! -s "$wf" ]; then
        problem="empty or missing output"
    elif ! cmp -s "$lf" "$wf"; then
        problem="files differ: $(cmp "$lf" "$wf" 2>&1 | sed 's/^.*differ: //' || true); sizes linux $(stat -c %s "$lf"), windows $(stat -c %s "$wf")"
    fi
    local what="save ${opts[*]} ${names[*]}"
    if [ -z "$problem" ]; then
        pass
        xc_passed=$((xc_passed + 1))
        return
    fi
    xc_failed=$((xc_failed + 1))
    fail "cross-check $what: $problem"
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
[ "$xc_failed" -eq 0 ] || say "cross-check: differing outputs kept in ${FAILURE_DIR#"$ROOT"/}/"
say "cross-check: $xc_passed passed, $xc_failed failed in $((($(ms) - T_XCHECK) / 1000)) s"

# ---------------------------------------------------------------------------------------------------------------
# d. Winsock against the virtual printer: the Linux printer runs in this network namespace, so nvlogo.exe
# reaches it on 127.0.0.1 and every byte goes through Wine's Winsock. Its NV file shows what it executed.
T_NET=$(ms)
NET=$WORK/net
mkdir -p "$NET/in" "$NET/logs"
net_logos=()
for f in "$ROOT"/examples/*.bmp; do
    cp "$f" "$NET/in/"
    net_logos+=("$(basename "$f")")
done
net_passed=0
net_failed=0
net_pass() {
    pass
    net_passed=$((net_passed + 1))
}
# net_fail WHAT [LOG-NAME [PRINTER-DIR]]: the output of the Wine run and the printer's log explain the failure.
net_fail() {
    net_failed=$((net_failed + 1))
    fail "winsock: $1"
    local log=${2:-} dir=${3:-}
    if [ -n "$log" ]; then
        for stream in out err; do
            [ -s "$NET/logs/$log.$stream" ] && head -n 10 "$NET/logs/$log.$stream" | sed "s/^/    std$stream: /"
        done
    fi
    [ -n "$dir" ] && [ -s "$dir/printer.log" ] && tail -n 10 "$dir/printer.log" | sed 's/^/    printer: /'
    [ -n "$dir" ] && [ -s "$dir/printer.err" ] && tail -n 5 "$dir/printer.err" | sed 's/^/    printer stderr: /'
    return 0
}

# start_printer NAME OPTION...: a virtual printer with its files in $NET/NAME; sets printer_dir and
# printer_port, or returns 1. Not to be called in a subshell: the PID must reach PRINTER_PIDS.
start_printer() {
    local name=$1 pid
    shift
    printer_dir=$NET/$name
    printer_port=
    mkdir -p "$printer_dir/prints"
    "$LINUX_PRINTER" --listen 127.0.0.1:0 --nv "$printer_dir/nv.bit" --out "$printer_dir/prints" "$@" \
        </dev/null >"$printer_dir/printer.log" 2>"$printer_dir/printer.err" &
    pid=$!
    PRINTER_PIDS+=("$pid")
    printer_pid=$pid
    for _ in $(seq 100); do
        # Only a complete first line: a port read half-written would point at someone else.
        if [ -f "$printer_dir/printer.log" ] && [ "$(wc -l <"$printer_dir/printer.log")" -ge 1 ]; then
            printer_port=$(head -n 1 "$printer_dir/printer.log" | sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p')
            [ -n "$printer_port" ] && return 0
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    net_fail "the virtual printer '$name' did not start (first line: '$(head -n 1 "$printer_dir/printer.log" 2>/dev/null)')" \
        "" "$printer_dir"
    return 1
}

# wine_nvlogo LOG-NAME SECONDS ARG...: nvlogo.exe in $NET; sets wrc and welapsed (ms).
wine_nvlogo() {
    local log=$1 limit=$2 t0
    shift 2
    t0=$(ms)
    wrc=0
    (cd "$NET" && timeout -k 5 "$limit" wine64 "$WIN_NVLOGO_DOS" "$@") \
        </dev/null >"$NET/logs/$log.out" 2>"$NET/logs/$log.err" || wrc=$?
    welapsed=$(($(ms) - t0))
}

# expect_exit CODE WHAT LOG-NAME PRINTER-DIR: counts the last wine_nvlogo run; returns 1 on a mismatch.
expect_exit() {
    local want=$1 what=$2 log=$3 dir=$4 why
    if [ "$wrc" -eq "$want" ]; then
        net_pass
        return 0
    fi
    why="exit code $wrc, expected $want"
    [ "$wrc" -ne 124 ] || why+=" (timed out)"
    [ "$wrc" -ne 5 ] || why+=" (crashed)"
    net_fail "$what: $why" "$log" "$dir"
    return 1
}

# expect_nv WHAT REFERENCE PRINTER-DIR LOG-NAME: the printer's NV file equals REFERENCE (a file, or "empty").
expect_nv() {
    local what=$1 ref=$2 dir=$3 log=$4 nv=$3/nv.bit why=
    if [ ! -f "$nv" ]; then
        why="the printer has no nv.bit"
    elif [ "$ref" = empty ]; then
        [ ! -s "$nv" ] || why="nv.bit has $(stat -c %s "$nv") bytes, expected 0"
    elif ! cmp -s "$ref" "$nv"; then
        why="nv.bit differs from $(basename "$ref"): $(cmp "$ref" "$nv" 2>&1 | sed 's/^.*differ: //' || true); sizes $(stat -c %s "$ref") and $(stat -c %s "$nv")"
    fi
    if [ -z "$why" ]; then
        net_pass
        return
    fi
    # Tells a late write apart from a wrong one, without counting it as a pass: a zero exit must mean done.
    sleep 1
    local late=false
    if [ "$ref" = empty ]; then
        [ -f "$nv" ] && [ ! -s "$nv" ] && late=true
    else
        cmp -s "$ref" "$nv" && late=true
    fi
    ! $late || why+="; right 1 s later, so nvlogo.exe returned before the printer had executed the data"
    net_fail "$what: $why" "$log" "$dir"
}

win_logos=()
for l in "${net_logos[@]}"; do win_logos+=("in\\$l"); done
ref_ok=true
if [ ${#net_logos[@]} -ne 3 ]; then
    net_fail "expected the three examples/*.bmp, found ${#net_logos[@]}"
    ref_ok=false
elif ! (cd "$NET/in" && "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o ../x.bit "${net_logos[@]}" &&
    "$LINUX_NVLOGO" save -H error-diffusion -b 5 -f hex -o ../x.txt "${net_logos[@]}") \
    </dev/null >"$NET/logs/reference.log" 2>&1; then
    net_fail "the Linux nvlogo could not write the reference x.bit and x.txt" reference
    ref_ok=false
fi

if $ref_ok && start_printer good; then
    good=$printer_dir
    port=127.0.0.1:$printer_port
    wine_nvlogo upload 20 upload -H error-diffusion -b 5 --port "$port" "${win_logos[@]}"
    expect_exit 0 "upload of the three logos" upload "$good" && say "winsock: upload took $welapsed ms"
    expect_nv "after the upload" "$NET/x.bit" "$good" upload

    wine_nvlogo print 20 print --range 1-3 --port "$port"
    expect_exit 0 "print --range 1-3" print "$good"
    png=$good/prints/print-0001.png
    if [ -s "$png" ] && [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; then
        net_pass
    else
        net_fail "print --range 1-3 left no print-0001.png (prints: $(cd "$good/prints" && echo *))" print "$good"
    fi

    wine_nvlogo erase 20 erase --port "$port"
    expect_exit 0 "erase" erase "$good"
    expect_nv "after the erase" empty "$good" erase

    wine_nvlogo send 20 send --port "$port" x.txt
    expect_exit 0 "send x.txt" send "$good"
    expect_nv "after send x.txt" "$NET/x.bit" "$good" send
    stop_pid "$printer_pid"
fi

# Failures must reach the exit code: the printer's log shows that nvlogo.exe got as far as the fault.
if start_printer refusing --refuse; then
    wine_nvlogo refused 20 erase --port "127.0.0.1:$printer_port"
    if expect_exit 1 "erase against a refusing printer" refused "$printer_dir"; then
        grep -q 'refused (--refuse)' "$printer_dir/printer.log" ||
            say "warning: winsock: exit code 1, but the refusing printer saw no connection"
    fi
    say "winsock: refused: $(head -n 1 "$NET/logs/refused.err")"
    stop_pid "$printer_pid"
fi

if start_printer dropping --close-after 2000; then
    wine_nvlogo dropped 20 upload -H error-diffusion -b 5 --port "127.0.0.1:$printer_port" "${win_logos[@]}"
    if expect_exit 1 "upload to a printer that resets after 2000 bytes" dropped "$printer_dir"; then
        grep -q 'reset (--close-after)' "$printer_dir/printer.log" ||
            say "warning: winsock: exit code 1, but the printer did not reset a connection"
    fi
    say "winsock: dropped: $(head -n 1 "$NET/logs/dropped.err")"
    closed_port=$printer_port
    stop_pid "$printer_pid"

    # The stopped printer's port: nothing listens there any more, inside this namespace.
    wine_nvlogo closed 10 erase --port "127.0.0.1:$closed_port"
    if expect_exit 1 "erase against a closed port" closed ""; then
        if [ "$welapsed" -lt 4000 ]; then
            net_pass
        else
            net_fail "erase against a closed port took $welapsed ms, expected under 4000" closed
        fi
    fi
    say "winsock: closed port: exit $wrc after $welapsed ms: $(head -n 1 "$NET/logs/closed.err")"
fi
say "winsock: $net_passed passed, $net_failed failed in $((($(ms) - T_NET) / 1000)) s"

# ---------------------------------------------------------------------------------------------------------------
# e. A serial printer under Wine: COM1 is mapped, through the registry only, to a pseudo-terminal whose other
# end a reader on this side records. /dev/ttyS* stay covered by /dev/null, so no byte can reach a real port.
# serial_checks runs it; it counts into passed and failed like the sections above.
serial_checks() {
    local S=$WORK/serial logos=() win=() l tty t0 reader_pid
    mkdir -p "$S/in" "$S/logs"
    ser_passed=0
    ser_failed=0
    ser_pass() {
        pass
        ser_passed=$((ser_passed + 1))
    }
    ser_fail() {
        ser_failed=$((ser_failed + 1))
        fail "serial: $1"
        local log=${2:-}
        if [ -n "$log" ]; then
            for stream in out err; do
                [ -s "$S/logs/$log.$stream" ] && head -n 10 "$S/logs/$log.$stream" | sed "s/^/    std$stream: /"
            done
        fi
        return 0
    }
    for f in "$ROOT"/examples/*.bmp; do
        cp "$f" "$S/in/"
        logos+=("$(basename "$f")")
        win+=("in\\$(basename "$f")")
    done
    if ! (cd "$S/in" && "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o ../ref.bit "${logos[@]}") \
        </dev/null >"$S/logs/reference.log" 2>&1; then
        ser_fail "the Linux nvlogo could not write the reference ref.bit"
        return 0
    fi
    cp "$S/ref.bit" "$S/expected.bin"
    printf '\x1d\x61\x00' >>"$S/expected.bin"

    # The reader holds the slave side open itself, so the port's close never hangs the line up, and keeps the
    # line raw. MODE read records everything; MODE stall never reads, like a printer that stopped.
    cat >"$S/reader.py" <<'PY'
import os, pty, select, signal, sys, time, tty
mode, out, name_file = sys.argv[1:4]
master, slave = pty.openpty()
tty.setraw(slave)
with open(name_file + ".tmp", "w") as f:
    f.write(os.ttyname(slave))
os.rename(name_file + ".tmp", name_file)
stop = False
def on_term(*_):
    global stop
    stop = True
signal.signal(signal.SIGTERM, on_term)
deadline = time.time() + 180
with open(out, "wb") as f:
    while not stop and time.time() < deadline:
        if mode == "stall":
            time.sleep(0.05)
            continue
        if select.select([master], [], [], 0.05)[0]:
            f.write(os.read(master, 65536))
            f.flush()
    while mode != "stall" and select.select([master], [], [], 0.2)[0]:
        f.write(os.read(master, 65536))
PY

    # start_reader MODE NAME: sets tty and reader_pid, or returns 1.
    start_reader() {
        rm -f "$S/$2.tty"
        python3 "$S/reader.py" "$1" "$S/$2.bin" "$S/$2.tty" </dev/null >"$S/logs/$2-reader.log" 2>&1 &
        reader_pid=$!
        PRINTER_PIDS+=("$reader_pid")
        for _ in $(seq 100); do
            [ -s "$S/$2.tty" ] && break
            sleep 0.05
        done
        tty=$(cat "$S/$2.tty" 2>/dev/null || true)
        if [ -z "$tty" ] || [ ! -c "$tty" ]; then
            ser_fail "the pseudo-terminal reader '$2' did not start" "$2-reader"
            return 1
        fi
    }

    # map_com1 TTY: COM1 -> TTY in HKLM\Software\Wine\Ports; mountmgr reads the key only when the server
    # starts, so the server is restarted, and the link it made is checked before anything is sent.
    map_com1() {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM1"="%s"\n' "$1" >"$S/ports.reg"
        timeout -k 5 60 wine64 regedit /S "$(winpath "$S/ports.reg")" </dev/null >"$S/logs/regedit.log" 2>&1 &&
            timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
        timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1 || true
        timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || true
        timeout -k 5 60 wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
        local link
        link=$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null || true)
        if [ "$link" != "$1" ]; then
            ser_fail "COM1 is mapped to '${link:-nothing}', not to the pseudo-terminal $1; nothing sent"
            return 1
        fi
    }

    # ser_nvlogo NAME SECONDS ARG...: nvlogo.exe in $S; sets wrc and welapsed (ms).
    ser_nvlogo() {
        local log=$1 limit=$2 t
        shift 2
        t=$(ms)
        wrc=0
        (cd "$S" && timeout -k 5 "$limit" wine64 "$WIN_NVLOGO_DOS" "$@") \
            </dev/null >"$S/logs/$log.out" 2>"$S/logs/$log.err" || wrc=$?
        welapsed=$(($(ms) - t))
    }

    if start_reader read good && map_com1 "$tty"; then
        ser_nvlogo upload 30 upload -H error-diffusion -b 5 --port COM1 "${win[@]}"
        stop_pid "$reader_pid"
        if [ "$wrc" -eq 0 ]; then
            ser_pass
            say "serial: upload through COM1 took $welapsed ms"
        else
            ser_fail "upload through COM1: exit code $wrc, expected 0" upload
        fi
        if cmp -s "$S/expected.bin" "$S/good.bin"; then
            ser_pass
        else
            ser_fail "the pseudo-terminal received $(stat -c %s "$S/good.bin" 2>/dev/null || echo no) bytes, not the \
$(stat -c %s "$S/expected.bin") of ref.bit + 1D 61 00: $(cmp "$S/expected.bin" "$S/good.bin" 2>&1 || true)" upload
        fi
    fi

    # A printer that stops reading: every piece is given at most 1000 ms, so the send fails soon after the line
    # is full.
    head -c $((3 << 20)) /dev/zero >"$S/big.bin"
    if start_reader stall stalled && map_com1 "$tty"; then
        ser_nvlogo stalled 60 send --raw --port COM1 big.bin
        stop_pid "$reader_pid"
        if [ "$wrc" -eq 1 ] && [ "$welapsed" -lt 20000 ]; then
            ser_pass
        else
            ser_fail "send to a printer that stops reading: exit code $wrc after $welapsed ms, expected 1 within 20 s" \
                stalled
        fi
        say "serial: stalled: exit $wrc after $welapsed ms: $(head -n 1 "$S/logs/stalled.err" 2>/dev/null)"
    fi
    say "serial: $ser_passed passed, $ser_failed failed in $((($(ms) - T_SERIAL) / 1000)) s"
}
T_SERIAL=$(ms)
serial_checks
source "$ROOT/scripts/wine/read-paths.sh" # the read paths of nvlogo.exe: status over Winsock and COM1

# ---------------------------------------------------------------------------------------------------------------
# f. The window: Tessera.exe started from a folder of its own, driven by gui_driver.exe as a person would.
# A first start (no settings files, no printer) checks the start values; a second start with both settings
# files adds a logo in the open-file dialog and uploads the list to the Linux virtual printer over Winsock.
# The printer's NV file must equal what nvlogo save writes, and closing must write both settings files.
# The screenshots of both runs go to docs/screenshots/.
gui_checks() {
    local G=$WORK/gui driver=$WIN_BUILD/tests/gui_driver.exe app=$WIN_BUILD/app/Tessera.exe
    mkdir -p "$G/first" "$G/second" "$G/logs" "$ROOT/docs/screenshots"
    if [ ! -f "$driver" ] || [ ! -f "$app" ]; then
        fail "gui: Tessera.exe or gui_driver.exe was not built"
        return 0
    fi
    cp "$app" "$G/first/Tessera.exe"
    cp "$app" "$G/second/Tessera.exe"
    gui_run() { # LOG ARG...: the driver's own checks count one each
        local log=$1 rc=0 line
        shift
        timeout -k 5 180 wine64 "$driver" "$@" </dev/null >"$G/logs/$log.out" 2>"$G/logs/$log.err" || rc=$?
        while IFS= read -r line; do
            case $line in ok\ *) pass ;; FAIL\ *) fail "gui $log: ${line#FAIL }" ;; esac
        done <"$G/logs/$log.out"
        [ "$rc" -eq 0 ] || fail "gui $log: the driver exited with $rc"
    }
    shot() { # BMP NAME
        if python3 "$ROOT/scripts/bmp_to_png.py" "$1" "$ROOT/docs/screenshots/$2.png"; then pass; else fail "gui: screenshot $2"; fi
    }

    gui_run first empty "$(winpath "$G/first/Tessera.exe")" "$(winpath "$G/first.bmp")" "$(winpath "$G/splash.bmp")"
    shot "$G/first.bmp" main-empty
    shot "$G/splash.bmp" splash
    if [ -s "$G/first/files.ini" ] || ! grep -q $'^Port=2\r\r$' "$G/first/nvupload.ini" 2>/dev/null; then
        fail "gui: the first run's close did not write an empty files.ini and Port=2 in nvupload.ini"
    else
        pass
    fi

    local ex=$ROOT/examples
    printf '[LOGO]\r\r\nLogofile1=%s|badge.bmp|1152|96|96\r\r\nLogofile2=%s|line-drawing.bmp|3000|120|200\r\r\n' \
        "$(winpath "$ex/badge.bmp")" "$(winpath "$ex/line-drawing.bmp")" >"$G/second/files.ini"
    printf '[LOGO]\r\r\nPort=3\r\r\nBaudRate=3\r\r\nBitLength=0\r\r\nParity=0\r\r\nStopBit=0\r\r\nHandShake=0\r\r\n' \
        >"$G/second/nvupload.ini"
    start_printer gui || return 0
    gui_run second upload "$(winpath "$G/second/Tessera.exe")" "$(winpath "$ex/shop-logo.bmp")" 127.0.0.1 \
        "$printer_port" "$(winpath "$G/second.bmp")" "$(winpath "$G/question.bmp")"
    stop_pid "$printer_pid"
    shot "$G/second.bmp" main-logos
    shot "$G/question.bmp" upload-question
    "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o "$G/expected.bit" "$ex/badge.bmp" "$ex/line-drawing.bmp" \
        "$ex/shop-logo.bmp" </dev/null >"$G/logs/reference.log" 2>&1
    if cmp -s "$printer_dir/nv.bit" "$G/expected.bit"; then
        pass
    else
        fail "gui: the printer's NV memory is not the stream of the three logos ($(cmp "$printer_dir/nv.bit" "$G/expected.bit" 2>&1))"
    fi
    local expected_list
    expected_list=$(printf '[LOGO]\r\r\nLogofile1=%s|badge.bmp|1152|96|96\r\r\nLogofile2=%s|line-drawing.bmp|3000|120|200\r\r\nLogofile3=%s|shop-logo.bmp|11520|160|576\r\r\n' \
        "$(winpath "$ex/badge.bmp")" "$(winpath "$ex/line-drawing.bmp")" "$(winpath "$ex/shop-logo.bmp")")
    if [ "$(cat "$G/second/files.ini")" = "$expected_list" ] && grep -q $'^Port=3\r\r$' "$G/second/nvupload.ini"; then
        pass
    else
        fail "gui: files.ini or nvupload.ini after the second run is not as expected (see $G/second)"
    fi
    # The same first start at 144 dots per inch: every control must still be in place.
    mkdir -p "$G/dpi"
    cp "$app" "$G/dpi/Tessera.exe"
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:00000090\n' >"$G/dpi.reg"
    timeout -k 5 60 wine64 regedit /S "$(winpath "$G/dpi.reg")" </dev/null >/dev/null 2>&1
    timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
    timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1 || true
    timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || true
    gui_run dpi empty "$(winpath "$G/dpi/Tessera.exe")" "$(winpath "$G/dpi.bmp")" "$(winpath "$G/dpi-splash.bmp")"
    shot "$G/dpi.bmp" main-144dpi
    say "gui: Tessera.exe driven in $((($(ms) - T_GUI) / 1000)) s; screenshots in docs/screenshots/"
}
T_GUI=$(ms)
gui_checks

# ---------------------------------------------------------------------------------------------------------------
# g. The virtual printer built for Windows: nvlogo-printer.exe under Wine serves the Linux nvlogo, and keeps
# exactly the uploaded stream as its NV memory.
printer_exe_checks() {
    local P=$WORK/printer-exe exe=$WIN_BUILD/tools/nvlogo-printer.exe port
    mkdir -p "$P"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    timeout -k 5 120 wine64 "$exe" --listen "127.0.0.1:$port" --nv "$(winpath "$P/nv.bit")" --out "$(winpath "$P/prints")" \
        </dev/null >"$P/printer.log" 2>&1 &
    local pid=$!
    PRINTER_PIDS+=("$pid")
    for _ in $(seq 200); do
        grep -q '^listening on ' "$P/printer.log" 2>/dev/null && break
        sleep 0.05
    done
    local ex=$ROOT/examples
    if "$LINUX_NVLOGO" upload -H indexed-order -p "tcp:127.0.0.1:$port" "$ex/badge.bmp" "$ex/shop-logo.bmp" \
        </dev/null >"$P/upload.log" 2>&1 &&
        "$LINUX_NVLOGO" print -p "tcp:127.0.0.1:$port" </dev/null >>"$P/upload.log" 2>&1; then
        pass
    else
        fail "nvlogo-printer.exe: the Linux nvlogo could not upload and print to it ($(tail -n 1 "$P/upload.log"))"
    fi
    sleep 0.5
    stop_pid "$pid"
    "$LINUX_NVLOGO" save -H indexed-order -o "$P/expected.bit" "$ex/badge.bmp" "$ex/shop-logo.bmp" </dev/null >/dev/null 2>&1
    if cmp -s "$P/nv.bit" "$P/expected.bit" && [ -s "$P/prints/print-0001.png" ]; then
        pass
    else
        fail "nvlogo-printer.exe: its NV file or printout is not what was sent (log: $(tail -n 3 "$P/printer.log" | tr '\n' ' '))"
    fi
}
printer_exe_checks

# ---------------------------------------------------------------------------------------------------------------
say "total $((($(ms) - T_START) / 1000)) s"
if [ "$failed" -gt 0 ]; then
    say "failures:"
    for f in "${failures[@]}"; do echo "    $f"; done
fi
summary "$([ "$ctest_skipped" -gt 0 ] && echo "$ctest_skipped test(s) skipped")"
[ "$failed" -eq 0 ]
