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

source scripts/virtual-printer.sh
trap stop_virtual_printer EXIT
start_virtual_printer "$printer" "$out/nv.bit" "$out/prints" "$out/printer.log"
address=$VP_ADDRESS

echo "The sample logos:"
"$nvlogo" info "${logos[@]}"
echo
echo "Virtual printer listening on $address"
"$nvlogo" upload -H error-diffusion -b 5 --port "tcp:$address" "${logos[@]}"
"$nvlogo" print --range 1-3 --port "tcp:$address"
"$nvlogo" print --range 2 --scale double --port "tcp:$address"
"$nvlogo" save -H error-diffusion -b 5 -o "$out/logos.bit" "${logos[@]}"

stop_virtual_printer
trap - EXIT

echo
echo "What the printer did:"
grep -v '^listening on' "$out/printer.log" | sed 's/^/  /'
echo
echo "Its NV memory:      $out/nv.bit ($(stat -c %s "$out/nv.bit") bytes; the same as $out/logos.bit: $(cmp -s "$out/nv.bit" "$out/logos.bit" && echo yes || echo no))"
echo "Its printouts:"
for f in "$out"/prints/*.png; do echo "  $f"; done
