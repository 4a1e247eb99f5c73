#!/usr/bin/env bash
# The read paths of nvlogo.exe under Wine: `nvlogo.exe status` hears the Linux virtual printer over Winsock
# and over COM1, and reports a printer that answers nothing, or a refused address, as such. COM1 is mapped,
# through the registry only, to a pseudo-terminal of this check; the host's serial devices stay covered.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

R=$WORK/read-paths
mkdir -p "$R/logs"

# status LOG ARG...: nvlogo.exe status --json ARG...; sets wrc and welapsed (ms).
status() {
    local log=$1
    shift
    wine_nvlogo "$R" "$log" 30 status --json "$@"
}
# expect LOG CODE TEXT...: the last status run exited with CODE and printed every TEXT.
expect() {
    local log=$1 code=$2 text
    shift 2
    if [ "$wrc" -ne "$code" ]; then
        fail "read paths: $log: exit code $wrc$(exit_note "$wrc"), expected $code"
        show_run_logs "$R" "$log"
        return 1
    fi
    for text in "$@"; do
        if ! grep -qF -- "$text" "$R/logs/$log.out" "$R/logs/$log.err"; then
            fail "read paths: $log: no '$text' in what nvlogo.exe printed"
            show_run_logs "$R" "$log"
            return 1
        fi
    done
    pass
}

# Winsock: a printer in two settings, an address that refuses, and a printer that answers nothing.
if start_printer "$R/tcp" --paper near-end --cover open --graphics-capacity 1000; then
    status tcp --port "127.0.0.1:$printer_port"
    expect tcp 0 '"answers": true' '"paper": "near-end", "cover": "open"' "\"serial\": \"VP$printer_port\"" \
        '"nv_graphics": {"capacity": 1000, "free": 1000, "keys": []}' || true
    say "read paths: status over Winsock took $welapsed ms"
    stop_pid "$printer_pid"
    status refused --port "127.0.0.1:$printer_port"
    expect refused 1 '"answers": false' "127.0.0.1:$printer_port: connect: " || true
fi
if start_printer "$R/mute" --model mute; then
    status mute --port "127.0.0.1:$printer_port"
    expect mute 1 '"answers": false, "online": null' || true
    say "read paths: a mute printer reported in $welapsed ms, Wine's start included"
    if grep -q 'DLE EOT 1 not answered (mute)' "$R/mute/printer.log" && ! grep -q 'DLE EOT 2' "$R/mute/printer.log"; then
        pass
    else
        fail "read paths: the mute printer was not asked DLE EOT 1 alone"
        show_printer_log "$R/mute"
    fi
    stop_pid "$printer_pid"
fi

# COM1: a relay joins a pseudo-terminal to a virtual printer's TCP port; with port 0 it reads and answers
# nothing. It holds the slave side open itself, so that the port's close never hangs the line up.
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

# relay NAME PORT: sets relay_pid, with COM1 mapped to the relay's terminal; or counts a failure and returns 1.
relay() {
    local tty link
    rm -f "$R/$1.tty"
    python3 "$R/relay.py" "$2" "$R/$1.tty" </dev/null >"$R/logs/$1-relay.log" 2>&1 &
    relay_pid=$!
    track "$relay_pid"
    for _ in $(seq 100); do
        [ -s "$R/$1.tty" ] && break
        sleep 0.05
    done
    tty=$(cat "$R/$1.tty" 2>/dev/null || true)
    if [ -z "$tty" ] || [ ! -c "$tty" ]; then
        fail "read paths: the relay '$1' did not start"
        return 1
    fi
    # mountmgr reads the key only when the server starts.
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM1"="%s"\n' "$tty" >"$R/ports.reg"
    timeout -k 5 60 wine64 regedit /S "$(winpath "$R/ports.reg")" </dev/null >/dev/null 2>&1 || true
    restart_wineserver
    timeout -k 5 60 wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    link=$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null || true)
    if [ "$link" != "$tty" ]; then
        fail "read paths: COM1 is mapped to '${link:-nothing}', not to the pseudo-terminal $tty; nothing sent"
        return 1
    fi
}
if start_printer "$R/serial" --paper end && relay serial "$printer_port"; then
    status serial --port COM1 --baud 115200
    expect serial 0 '"answers": true' '"paper": "end"' '"errors": ["offline", "paper-end-stop"]' '"maker": "Tessera"' ||
        true
    say "read paths: status over COM1 took $welapsed ms"
    stop_pid "$relay_pid"
    stop_pid "$printer_pid"
fi
if relay silent 0; then
    status silent --port COM1
    expect silent 1 '"answers": false' || true
    say "read paths: a silent serial line reported in $welapsed ms, Wine's start included"
    stop_pid "$relay_pid"
fi
part_summary "read paths"
