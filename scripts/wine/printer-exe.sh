#!/usr/bin/env bash
# The virtual printer built for Windows: nvlogo-printer.exe under Wine serves the Linux nvlogo, and keeps
# exactly the uploaded stream as its NV memory.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

P=$WORK/printer-exe
exe=$WIN_BUILD/tools/nvlogo-printer.exe
ex=$ROOT/examples
mkdir -p "$P"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
timeout -k 5 120 wine64 "$exe" --listen "127.0.0.1:$port" --nv "$(winpath "$P/nv.bit")" --out "$(winpath "$P/prints")" \
    </dev/null >"$P/printer.log" 2>&1 &
pid=$!
track "$pid"
for _ in $(seq 200); do
    grep -q '^listening on ' "$P/printer.log" 2>/dev/null && break
    sleep 0.05
done
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
part_summary nvlogo-printer.exe
