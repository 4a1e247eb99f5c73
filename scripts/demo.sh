#!/usr/bin/env bash
# The demo on built-in defaults: builds nvlogo, describes the sample logos and saves them as one upload
# stream, as a .bit file and as a .txt file, under out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux --target nvlogo >/dev/null

nvlogo=build/linux/cli/nvlogo
logos=(examples/shop-logo.bmp examples/badge.bmp examples/line-drawing.bmp)
mkdir -p out/demo

echo "The sample logos:"
"$nvlogo" info "${logos[@]}"
"$nvlogo" save -H error-diffusion -b 5 -o out/demo/logos.bit "${logos[@]}"
"$nvlogo" save -H error-diffusion -b 5 -f hex -o out/demo/logos.txt "${logos[@]}"
echo
echo "Saved the upload stream of ${#logos[@]} logos (error diffusion, brightness 5):"
echo "  out/demo/logos.bit  $(stat -c %s out/demo/logos.bit) bytes: ESC @, FS q with 3 images, each its size and raster"
echo "  out/demo/logos.txt  $(stat -c %s out/demo/logos.txt) bytes: the same bytes as hexadecimal text"
echo "First bytes: $(head -c 27 out/demo/logos.txt)"
