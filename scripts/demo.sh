#!/usr/bin/env bash
# The demo on built-in defaults: starts the virtual printer on loopback, uploads the sample logos into its
# NV memory, prints them back and shows where the printouts are. Everything lands under out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux --target nvlogo nvlogo-printer >/dev/null

nvlogo=build/linux/cli/nvlogo
printer=build/linux/tools/nvlogo-printer
logos=(examples/shop-logo.bmp examples/badge.bmp examples/line-drawing.bmp)
out=out/demo
rm -rf "$out"
mkdir -p "$out/prints"

# The virtual printer takes a free port and says which on its first line.
"$printer" --listen 127.0.0.1:0 --nv "$out/nv.bit" --out "$out/prints" >"$out/printer.log" 2>&1 &
printer_pid=$!
trap 'kill "$printer_pid" 2>/dev/null || true; wait "$printer_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    grep -q '^listening on ' "$out/printer.log" 2>/dev/null && break
    sleep 0.05
done
address=$(sed -n 's/^listening on //p' "$out/printer.log" | head -1)
[ -n "$address" ] || { echo "demo: the virtual printer did not start:" >&2; cat "$out/printer.log" >&2; exit 1; }

echo "The sample logos:"
"$nvlogo" info "${logos[@]}"
echo
echo "Virtual printer listening on $address"
"$nvlogo" upload -H error-diffusion -b 5 --port "tcp:$address" "${logos[@]}"
"$nvlogo" print --range 1-3 --port "tcp:$address"
"$nvlogo" print --range 2 --scale double --port "tcp:$address"
"$nvlogo" save -H error-diffusion -b 5 -o "$out/logos.bit" "${logos[@]}"

kill "$printer_pid"
wait "$printer_pid" 2>/dev/null || true
trap - EXIT

echo
echo "What the printer did:"
grep -v '^listening on' "$out/printer.log" | sed 's/^/  /'
echo
echo "Its NV memory:      $out/nv.bit ($(stat -c %s "$out/nv.bit") bytes; the same as $out/logos.bit: $(cmp -s "$out/nv.bit" "$out/logos.bit" && echo yes || echo no))"
echo "Its printouts:"
for f in "$out"/prints/*.png; do echo "  $f"; done
