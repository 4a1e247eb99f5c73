#!/usr/bin/env bash
# A serial printer under Wine: COM1 is mapped, through the registry only, to a pseudo-terminal whose other end
# a reader on this side records. /dev/ttyS* stay covered by /dev/null, so no byte can reach a real port.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

S=$WORK/serial
mkdir -p "$S/in" "$S/logs"
logos=() win=()

# ser_fail WHAT [LOG-NAME]
ser_fail() {
    fail "serial: $1"
    [ -z "${2:-}" ] || show_run_logs "$S" "$2"
}

for f in "$ROOT"/examples/*.bmp; do
    cp "$f" "$S/in/"
    logos+=("$(basename "$f")")
    win+=("in\\$(basename "$f")")
done
if ! (cd "$S/in" && "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o ../ref.bit "${logos[@]}") \
    </dev/null >"$S/logs/reference.log" 2>&1; then
    ser_fail "the Linux nvlogo could not write the reference ref.bit"
    exit 0
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
    track "$reader_pid"
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

# map_com1 TTY: COM1 -> TTY in HKLM\Software\Wine\Ports; mountmgr reads the key only when the server starts,
# so the server is restarted, and the link it made is checked before anything is sent.
map_com1() {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM1"="%s"\n' "$1" >"$S/ports.reg"
    timeout -k 5 60 wine64 regedit /S "$(winpath "$S/ports.reg")" </dev/null >"$S/logs/regedit.log" 2>&1 || true
    restart_wineserver
    timeout -k 5 60 wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    local link
    link=$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null || true)
    if [ "$link" != "$1" ]; then
        ser_fail "COM1 is mapped to '${link:-nothing}', not to the pseudo-terminal $1; nothing sent"
        return 1
    fi
}

if start_reader read good && map_com1 "$tty"; then
    wine_nvlogo "$S" upload 30 upload --confirm off -H error-diffusion -b 5 --port COM1 "${win[@]}"
    stop_pid "$reader_pid"
    if [ "$wrc" -eq 0 ]; then
        pass
        say "serial: upload through COM1 took $welapsed ms"
    else
        ser_fail "upload through COM1: exit code $wrc, expected 0" upload
    fi
    if cmp -s "$S/expected.bin" "$S/good.bin"; then
        pass
    else
        ser_fail "the pseudo-terminal received $(stat -c %s "$S/good.bin" 2>/dev/null || echo no) bytes, not the \
$(stat -c %s "$S/expected.bin") of ref.bit + 1D 61 00: $(cmp "$S/expected.bin" "$S/good.bin" 2>&1 || true)" upload
    fi
fi

# A printer that stops reading: every piece is given at most 1000 ms, so the send fails soon after the line
# is full.
head -c $((3 << 20)) /dev/zero >"$S/big.bin"
if start_reader stall stalled && map_com1 "$tty"; then
    wine_nvlogo "$S" stalled 60 send --raw --port COM1 big.bin
    stop_pid "$reader_pid"
    if [ "$wrc" -eq 1 ] && [ "$welapsed" -lt 20000 ]; then
        pass
    else
        ser_fail "send to a printer that stops reading: exit code $wrc after $welapsed ms, expected 1 within 20 s" \
            stalled
    fi
    say "serial: stalled: exit $wrc after $welapsed ms: $(head -n 1 "$S/logs/stalled.err" 2>/dev/null)"
fi
part_summary serial
