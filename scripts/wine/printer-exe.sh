#!/usr/bin/env bash
# The virtual printer built for Windows: nvlogo-printer.exe under Wine serves the Linux nvlogo, and keeps
# exactly the uploaded stream as its NV memory.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

P=$WORK/printer-exe
exe=$WIN_BUILD/tools/nvlogo-printer.exe
ex=$ROOT/examples
mkdir -p "$P"
rm -f "$P/ready"
# A free port of its own choosing, named in the ready file: no port picked here can be taken meanwhile.
timeout -k 5 120 wine64 "$exe" --listen localhost:0 --ready-file "$(winpath "$P/ready")" --nv "$(winpath "$P/nv.bit")" \
    --out "$(winpath "$P/prints")" </dev/null >"$P/printer.log" 2>&1 &
pid=$!
track "$pid"
port=
for _ in $(seq 400); do
    [ -e "$P/ready" ] && port=$(sed -n 's/^127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$P/ready") && break
    sleep 0.05
done
if [ -z "$port" ]; then
    fail "nvlogo-printer.exe: no ready file with 127.0.0.1:PORT (log: $(tail -n 3 "$P/printer.log" | tr '\n' ' '))"
    stop_pid "$pid"
    part_summary nvlogo-printer.exe
    exit 0
fi
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
# An NV file it could not keep stops it at the start, with the exit status of a file it cannot write.
rc=0
timeout -k 5 60 wine64 "$exe" --listen localhost:0 --nv "$(winpath "$P/missing/nv.bit")" --out "$(winpath "$P/prints")" \
    </dev/null >"$P/refused.log" 2>&1 || rc=$?
if [ "$rc" -eq 1 ] && grep -q -- '--nv: ' "$P/refused.log"; then
    pass
else
    fail "nvlogo-printer.exe with an NV file in a missing folder: exit $rc ($(head -n 1 "$P/refused.log"))"
fi
part_summary nvlogo-printer.exe
