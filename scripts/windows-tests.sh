#!/bin/bash
# Runs the Windows build under Wine 8 and compares it with the Linux build. Each check is a file under
# scripts/wine/ (sharing scripts/wine/lib.sh):
#   imports      every .exe of build/windows imports system DLLs only (a static build runs on a bare Windows);
#   ctest        ctest over build/windows, each test exe run through Wine;
#   xcheck       nvlogo.exe and the Linux nvlogo write byte-identical files for every sample logo, half-toning
#                mode and a spread of brightness levels, so that a floating-point difference between the two
#                compilers shows up;
#   winsock      nvlogo.exe uploads, prints, erases and sends over Winsock to the Linux virtual printer on
#                loopback, and fails with exit code 1 when that printer refuses, drops the connection or is
#                not there at all;
#   serial       nvlogo.exe uploads through COM1, mapped to a pseudo-terminal, delivering exactly the saved
#                stream and 1D 61 00, and fails with exit code 1 when the reader at the other end stops;
#   gui          Tessera.exe, driven from outside, starts with its start values, restores its settings files,
#                adds a logo, uploads the list to the virtual printer and writes both settings files at Exit
#                (screenshots of the runs land in build/windows/screenshots/);
#   printer-exe  nvlogo-printer.exe serves the Linux nvlogo and keeps exactly what was uploaded.
#
# Usage: scripts/windows-tests.sh [--no-build] [--update-screenshots]
#   Brings build/windows, the Linux nvlogo and nvlogo-printer up to date first (configuring a missing build),
#   so that both sides are built from the same sources.
#   --no-build            use the binaries as they are; build only what is missing.
#   --update-screenshots  also copy the window's screenshots to docs/screenshots/ (a plain run changes no
#                         file of the source tree).
# Environment:
#   KEEP_WINE_WORKDIR=1   keep the scratch folder (Wine prefix, logs, outputs) and print where it is
#   CTEST_PARALLEL_LEVEL  passed on to ctest (default: one test at a time)
#
# Wine runs on a private Xvfb display with a throw-away prefix, inside a private mount namespace in which
# /dev/null covers every host serial and parallel device: Wine maps them to COM/LPT ports on its own, and a
# test must never write to real hardware. A private network namespace keeps Wine on loopback.
# Needs root (or unprivileged user namespaces), and the packages of scripts/deps.sh.
set -euo pipefail

SELF=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
source "$(dirname "$SELF")/wine/lib.sh"
cd "$ROOT"

ARGS=("$@")
build=true
for arg in "$@"; do
    case $arg in
    --no-build) build=false ;;
    --update-screenshots) export TESSERA_UPDATE_SCREENSHOTS=1 ;;
    -h | --help)
        sed -n '2,/^set -euo/p' "$SELF" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "usage: $0 [--no-build] [--update-screenshots]" >&2
        exit 2
        ;;
    esac
done

# Outside the namespaces: build, then run this script again inside them.
[ -n "${TESSERA_WINE_SANDBOX:-}" ] || source "$ROOT/scripts/wine/enter-sandbox.sh"

T_START=${TESSERA_T_START:-$(ms)}
shopt -s nullglob
source "$ROOT/scripts/wine/setup.sh"
interrupted() {
    fail "interrupted by $1"
    summary
    exit "$2"
}
trap 'interrupted SIGINT 130' INT
trap 'interrupted SIGTERM 143' TERM

# part NAME: runs scripts/wine/NAME.sh; a check that stops early counts as one more failure.
part() {
    local rc=0
    bash "$ROOT/scripts/wine/$1.sh" </dev/null || rc=$?
    [ "$rc" -eq 0 ] || fail "$1: the check stopped with exit code $rc"
}
part imports
part ctest
part xcheck
part winsock
part serial
part read-paths
part gui
part printer-exe

say "total $((($(ms) - T_START) / 1000)) s"
tally
if [ "$total_failed" -gt 0 ]; then
    say "failures:"
    for f in "${failure_lines[@]}"; do echo "    $f"; done
fi
summary
[ "$total_failed" -eq 0 ]
