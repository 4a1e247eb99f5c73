#!/usr/bin/env bash
# Makes the pictures of docs/guide.md that come from the command-line tools: for each half-toning mode the
# sample logo beside its preview, and what the printer prints; and a printout of the virtual printer after an
# upload of the three sample logos. (The window's screenshots come from scripts/windows-tests.sh; both are
# rewritten by scripts/test.sh --update-screenshots.)
#   scripts/guide-pictures.sh           rewrite docs/guide/*.png
#   scripts/guide-pictures.sh --check   make them in a scratch folder and fail if docs/guide differs
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
NVLOGO=build/linux/cli/nvlogo
PRINTER=build/linux/tools/nvlogo-printer
if [ ! -x "$NVLOGO" ] || [ ! -x "$PRINTER" ]; then
    [ -f build/linux/build.ninja ] || cmake --preset linux >/dev/null
    cmake --build --preset linux --target nvlogo nvlogo-printer >/dev/null
fi

check=false
[ "${1:-}" = --check ] && check=true
source scripts/virtual-printer.sh
scratch=$(mktemp -d)
cleanup() {
    stop_virtual_printer
    rm -rf "$scratch"
}
trap cleanup EXIT
out=$scratch/pictures
mkdir -p "$out"

for mode in threshold error-diffusion indexed-order; do
    "$NVLOGO" preview --side-by-side -H "$mode" -o "$out/preview-$mode.png" examples/shop-logo.bmp
    "$NVLOGO" preview --printed -H "$mode" -o "$out/printed-$mode.png" examples/shop-logo.bmp
done
for level in 2 8; do
    "$NVLOGO" preview -H error-diffusion -b "$level" -o "$out/brightness-$level.png" examples/shop-logo.bmp
done

start_virtual_printer "$PRINTER" "$scratch/nv.bit" "$scratch/prints" "$scratch/printer.log"
"$NVLOGO" upload -H error-diffusion -p "tcp:$VP_ADDRESS" examples/shop-logo.bmp examples/badge.bmp \
    examples/line-drawing.bmp >/dev/null
"$NVLOGO" print -p "tcp:$VP_ADDRESS" >/dev/null
cp "$scratch/prints/print-0001.png" "$out/printout.png"

if $check; then
    status=0
    for picture in "$out"/*.png; do
        name=$(basename "$picture")
        if ! cmp -s "$picture" "docs/guide/$name"; then
            echo "guide-pictures: docs/guide/$name is not what the tools make now (run scripts/guide-pictures.sh)" >&2
            status=1
        fi
    done
    [ "$status" -eq 0 ] && echo "guide-pictures: docs/guide matches the tools ($(ls "$out" | wc -l) pictures)"
    exit "$status"
fi
mkdir -p docs/guide
cp "$out"/*.png docs/guide/
echo "guide-pictures: wrote $(ls "$out" | wc -l) pictures to docs/guide"
