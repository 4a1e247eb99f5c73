#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Installs only what is missing, so a
# second run costs a few seconds. Usage: scripts/deps.sh [build|all]   (default all)
set -euo pipefail

what=${1:-all}
build=(cmake ninja-build g++ python3 googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libstb-dev pkg-config libusb-1.0-0-dev libcups2-dev)
testing=(clang-14 dpkg-dev cups-daemon cups-client man-db libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth)

want=("${build[@]}")
[ "$what" = all ] && want+=("${testing[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
