#!/usr/bin/env bash
# nvlogo opens the CUPS library only when a command needs it: with the library hidden (an empty file bound
# over it in a mount namespace of the test's own), a save still works, and printers and driver: ports fail
# with one line naming the missing library. Also: neither program links CUPS, and nvlogo-printer not libusb.
#   missing_library_test.sh NVLOGO NVLOGO-PRINTER EXAMPLES-DIR
# Exit 77 (skipped) where a mount namespace cannot be made (not root, or no unshare).
set -uo pipefail
NVLOGO=$1 PRINTER=$2 EXAMPLES=$3
failures=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
check "nvlogo does not link libcups" sh -c "! readelf -d '$NVLOGO' | grep -q libcups"
check "nvlogo-printer links neither libcups nor libusb" sh -c "! readelf -d '$PRINTER' | grep -Eq 'libcups|libusb'"

LIB=$(ldconfig -p | awk '/libcups\.so\.2 /{print $NF; exit}')
[ -n "$LIB" ] && unshare -m true 2>/dev/null || { echo "skipped: no libcups.so.2 or no mount namespace"; exit 77; }
hidden() { unshare -m sh -c "mount --bind /dev/null '$LIB' && exec \"\$@\"" sh "$@"; }
check "save works without libcups" hidden "$NVLOGO" save -o /dev/null "$EXAMPLES/badge.bmp"
names_library() { # fails with status 1 and a message naming the library
    local out
    out=$(hidden "$@" 2>&1)
    [ $? -eq 1 ] && [[ $out == *"libcups.so.2 cannot be loaded"* ]]
}
check "printers names the missing library" names_library "$NVLOGO" printers
check "driver: names the missing library" names_library "$NVLOGO" upload -p driver:any "$EXAMPLES/badge.bmp"
[ "$failures" -eq 0 ]
