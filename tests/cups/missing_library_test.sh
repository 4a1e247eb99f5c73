#!/usr/bin/env bash
# nvlogo opens libcups and libusb only when a command needs them. With both hidden (an empty file bound over
# each in a mount namespace of the test's own), the commands that need neither work without even trying to
# load them, and the ones that need one fail with one line naming it. Also: neither program links either.
#   missing_library_test.sh NVLOGO NVLOGO-PRINTER EXAMPLES-DIR
# Exit 77 (skipped) where a mount namespace cannot be made (not root, or no unshare).
set -uo pipefail
NVLOGO=$1 PRINTER=$2 EXAMPLES=$3
HERE=$(cd "$(dirname "$0")" && pwd)
failures=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
for program in "$NVLOGO" "$PRINTER"; do
    check "$(basename "$program") links neither libcups nor libusb" sh -c "! readelf -d '$program' | grep -Eq 'libcups|libusb'"
done

CUPS=$(ldconfig -p | awk '/libcups\.so\.2 /{print $NF; exit}')
USB=$(ldconfig -p | awk '/libusb-1\.0\.so\.0 /{print $NF; exit}')
[ -n "$CUPS" ] && [ -n "$USB" ] && unshare -m true 2>/dev/null ||
    { echo "skipped: no libcups.so.2 or libusb-1.0.so.0, or no mount namespace"; exit 77; }
hidden() { unshare -m sh -c "mount --bind /dev/null '$CUPS' && mount --bind /dev/null '$USB' && exec \"\$@\"" sh "$@"; }

D=$(mktemp -d /tmp/tessera-libs.XXXXXX)
source "$HERE/../../scripts/virtual-printer.sh"
trap 'stop_virtual_printer; rm -rf "$D"' EXIT
start_virtual_printer "$PRINTER" "$D/nv.bit" "$D/prints" "$D/printer.log" || exit 1

# The dynamic loader reports every library it looks for, dlopen's included.
loads_neither() {
    local out
    out=$(hidden env LD_DEBUG=libs "$@" 2>&1) && ! grep -Eq 'find library=lib(cups|usb)' <<<"$out"
}
# A pseudo-terminal stands in for the serial port; the printer's side is never read, the erase is short.
ON_PTY='import os, pty, subprocess, sys
m, s = pty.openpty()
sys.exit(subprocess.call(sys.argv[1:] + ["-p", "serial:" + os.ttyname(s)]))'
badge=$EXAMPLES/badge.bmp
check "--version loads neither" loads_neither "$NVLOGO" --version
check "save loads neither" loads_neither "$NVLOGO" save -o /dev/null "$badge"
check "info loads neither" loads_neither "$NVLOGO" info "$badge"
check "preview loads neither" loads_neither "$NVLOGO" preview -o "$D/p.pgm" "$badge"
check "a TCP upload loads neither" loads_neither "$NVLOGO" upload -p "$VP_ADDRESS" "$badge"
check "a serial erase loads neither" loads_neither python3 -c "$ON_PTY" "$NVLOGO" erase

names_library() { # LIBRARY COMMAND...: fails with status 1 and a message naming the library
    local library=$1 out
    shift
    out=$(hidden "$@" 2>&1)
    [ $? -eq 1 ] && [[ $out == *"$library cannot be loaded"* ]]
}
check "printers names the missing library" names_library libcups.so.2 "$NVLOGO" printers
check "driver: names the missing library" names_library libcups.so.2 "$NVLOGO" upload -p driver:any "$badge"
check "usb names the missing library" names_library libusb-1.0.so.0 "$NVLOGO" upload -p usb "$badge"
check "usb:VID:PID names the missing library" names_library libusb-1.0.so.0 "$NVLOGO" erase -p usb:0525:a700
[ "$failures" -eq 0 ]
