# The read paths of nvlogo.exe under Wine: `nvlogo.exe status` hears the Linux virtual printer over Winsock
# and over COM1, and reports a printer that answers nothing, or a refused address, as such.
#
# Sourced by scripts/windows-tests.sh inside its namespaces, after the prefix is ready. It uses from there:
# WORK, ROOT, WIN_NVLOGO, LINUX_PRINTER, PRINTER_PIDS, and the functions say, pass, fail, ms, winpath and
# stop_pid. COM1 is mapped, through the registry only, to a pseudo-terminal of this script; the host's
# serial devices stay covered.

read_path_checks() {
    local R=$WORK/read-paths rp_passed=0 rp_failed=0 exe rc elapsed port pid tty relay_pid
    mkdir -p "$R/logs"
    exe=$(winpath "$WIN_NVLOGO")
    rp_pass() {
        pass
        rp_passed=$((rp_passed + 1))
    }
    rp_fail() {
        rp_failed=$((rp_failed + 1))
        fail "read paths: $1"
        local log=${2:-} stream
        for stream in out err; do
            [ -n "$log" ] && [ -s "$R/logs/$log.$stream" ] && head -n 5 "$R/logs/$log.$stream" | sed "s/^/    std$stream: /"
        done
        return 0
    }
    # printer NAME OPTION...: a Linux virtual printer; sets port and pid, or returns 1.
    printer() {
        local name=$1
        shift
        mkdir -p "$R/$name"
        "$LINUX_PRINTER" --listen 127.0.0.1:0 --nv "$R/$name/nv.bit" --out "$R/$name/prints" "$@" \
            </dev/null >"$R/$name/printer.log" 2>&1 &
        pid=$!
        PRINTER_PIDS+=("$pid")
        port=
        for _ in $(seq 100); do
            port=$(head -n 1 "$R/$name/printer.log" 2>/dev/null | sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
            [ -n "$port" ] && return 0
            sleep 0.05
        done
        rp_fail "the virtual printer '$name' did not start"
        return 1
    }
    # status LOG ARG...: nvlogo.exe status --json ARG...; sets rc and elapsed (ms).
    status() {
        local log=$1 t0
        shift
        t0=$(ms)
        rc=0
        (cd "$R" && timeout -k 5 30 wine64 "$exe" status --json "$@") </dev/null >"$R/logs/$log.out" 2>"$R/logs/$log.err" || rc=$?
        elapsed=$(($(ms) - t0))
    }
    # expect LOG CODE TEXT...: the last status run exited with CODE and printed every TEXT.
    expect() {
        local log=$1 code=$2 text
        shift 2
        if [ "$rc" -ne "$code" ]; then
            rp_fail "$log: exit code $rc, expected $code" "$log"
            return 1
        fi
        for text in "$@"; do
            if ! grep -qF -- "$text" "$R/logs/$log.out" "$R/logs/$log.err"; then
                rp_fail "$log: no '$text' in what nvlogo.exe printed" "$log"
                return 1
            fi
        done
        rp_pass
    }

    # Winsock: a printer in each of two settings, one that answers nothing, and an address that refuses.
    if printer tcp --paper near-end --cover open --graphics-capacity 1000; then
        status tcp --port "127.0.0.1:$port"
        expect tcp 0 '"answers": true' '"paper": "near-end", "cover": "open"' "\"serial\": \"VP$port\"" \
            '"nv_graphics": {"capacity": 1000, "free": 1000, "keys": []}'
        say "read paths: status over Winsock took $elapsed ms"
        stop_pid "$pid"
        local closed=$port
        status refused --port "127.0.0.1:$closed"
        expect refused 1 '"answers": false' "127.0.0.1:$closed: connect: "
    fi
    if printer mute --model mute; then
        status mute --port "127.0.0.1:$port"
        expect mute 1 '"answers": false, "online": null'
        say "read paths: a mute printer reported in $elapsed ms (Wine's start included)"
        grep -q 'DLE EOT 1 not answered (mute)' "$R/mute/printer.log" && ! grep -q 'DLE EOT 2' "$R/mute/printer.log" ||
            rp_fail "mute: the printer was not asked DLE EOT 1 alone"
        stop_pid "$pid"
    fi

    # COM1: a relay joins a pseudo-terminal to a virtual printer's TCP port; port 0 reads and answers nothing.
    cat >"$R/relay.py" <<'PY'
import os, pty, select, signal, socket, sys, time, tty
port, name_file = int(sys.argv[1]), sys.argv[2]
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
peer = None
deadline = time.time() + 120
while not stop and time.time() < deadline:
    ready = select.select([master] + ([peer] if peer else []), [], [], 0.05)[0]
    if master in ready:
        data = os.read(master, 4096)
        if data and port:
            if peer is None:
                peer = socket.create_connection(("127.0.0.1", port))
            peer.sendall(data)
    if peer and peer in ready:
        data = peer.recv(4096)
        if data:
            os.write(master, data)
        else:
            peer.close()
            peer = None
PY
    # relay NAME PORT: sets tty and relay_pid, with COM1 mapped to the relay's terminal; or returns 1.
    relay() {
        rm -f "$R/$1.tty"
        python3 "$R/relay.py" "$2" "$R/$1.tty" </dev/null >"$R/logs/$1-relay.log" 2>&1 &
        relay_pid=$!
        PRINTER_PIDS+=("$relay_pid")
        for _ in $(seq 100); do
            [ -s "$R/$1.tty" ] && break
            sleep 0.05
        done
        tty=$(cat "$R/$1.tty" 2>/dev/null || true)
        if [ -z "$tty" ] || [ ! -c "$tty" ]; then
            rp_fail "the relay '$1' did not start"
            return 1
        fi
        # mountmgr reads the key only when the server starts.
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM1"="%s"\n' "$tty" >"$R/ports.reg"
        timeout -k 5 60 wine64 regedit /S "$(winpath "$R/ports.reg")" </dev/null >/dev/null 2>&1
        timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
        timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1 || true
        timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || true
        timeout -k 5 60 wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
        if [ "$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null)" != "$tty" ]; then
            rp_fail "COM1 is not mapped to the pseudo-terminal $tty; nothing sent"
            return 1
        fi
    }
    if printer serial --paper end && relay serial "$port"; then
        status serial --port COM1 --baud 115200
        expect serial 0 '"answers": true' '"paper": "end"' '"errors": ["offline", "paper-end-stop"]' '"maker": "Tessera"'
        say "read paths: status over COM1 took $elapsed ms"
        stop_pid "$relay_pid"
        stop_pid "$pid"
    fi
    if relay silent 0; then
        status silent --port COM1
        expect silent 1 '"answers": false'
        say "read paths: a silent serial line reported in $elapsed ms (Wine's start included)"
        stop_pid "$relay_pid"
    fi
    say "read paths: $rp_passed passed, $rp_failed failed"
}
read_path_checks
