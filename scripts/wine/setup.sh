# shellcheck shell=bash
# Sourced by scripts/windows-tests.sh inside the namespaces: covers the host's serial and parallel devices,
# brings up loopback, starts a private Xvfb and a throw-away Wine prefix with a persistent server, and sets
# the trap that takes all of it down again. Exports what the checks need (WORK, the Wine environment and
# TESSERA_WINE_RESULTS).

WORK=
XVFB_PID=
cleanup() {
    local rc=$?
    set +e
    stop_tracked
    if [ -n "$WORK" ] && [ -d "$WORK/prefix" ]; then
        # Stops this prefix's server and every Wine process of it, nothing else.
        timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
        timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        for _ in $(seq 50); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
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

# The scratch folder, first of all: the results of a setup that fails are counted there too.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tessera-wine.XXXXXX")
export WORK TESSERA_WINE_RESULTS=$WORK/results
: >"$TESSERA_WINE_RESULTS"

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
say "DISPLAY=$DISPLAY, $hidden host device(s) covered, network namespace: $([ "${TESSERA_WINE_NETNS:-0}" = 1 ] && echo yes || echo no), prefix ready in $((($(ms) - T_PREFIX) / 1000)) s"
