#!/usr/bin/env bash
# The printer-driver path on Linux against a real cupsd of its own (private configuration, a unix socket in a
# scratch folder, nothing on the network): a raw queue whose make-and-model is a supported model forwards
# its jobs to the virtual printer through a test backend. nvlogo printers lists it (and not a queue of
# another model), an upload through driver:NAME leaves exactly the saved stream in the printer's NV memory,
# and a queue that is stopped or does not exist fails with exit status 1.
#   raw_queue_test.sh NVLOGO NVLOGO-PRINTER EXAMPLES-DIR
# Exit 77 (skipped) when cupsd is not installed or the test does not run as root.
set -uo pipefail
NVLOGO=$1 PRINTER=$2 EXAMPLES=$3
HERE=$(cd "$(dirname "$0")" && pwd)
command -v cupsd >/dev/null 2>&1 && command -v lpadmin >/dev/null 2>&1 || { echo "skipped: cupsd or lpadmin missing"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "skipped: cupsd needs root"; exit 77; }

D=$(mktemp -d /tmp/tessera-cups.XXXXXX)
chmod 755 "$D"
source "$HERE/../../scripts/virtual-printer.sh"
CUPSD_PID=
cleanup() {
    stop_virtual_printer
    [ -n "$CUPSD_PID" ] && { kill "$CUPSD_PID" 2>/dev/null; wait "$CUPSD_PID" 2>/dev/null; }
    rm -rf "$D"
}
trap cleanup EXIT
failures=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

mkdir -p "$D"/{conf/ppd,spool/tmp,cache,state/certs,log,run,bin/backend}
for part in cgi-bin daemon filter monitor notifier driver; do
    [ -e "/usr/lib/cups/$part" ] && ln -s "/usr/lib/cups/$part" "$D/bin/$part"
done
install -m 0700 "$HERE/forward-backend.py" "$D/bin/backend/tessera-forward"
cat >"$D/conf/cupsd.conf" <<CONF
Listen $D/run/cups.sock
LogLevel warn
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat >"$D/conf/cups-files.conf" <<CONF
ServerRoot $D/conf
RequestRoot $D/spool
TempDir $D/spool/tmp
CacheDir $D/cache
StateDir $D/state
ServerBin $D/bin
ErrorLog $D/log/error_log
AccessLog $D/log/access_log
PageLog $D/log/page_log
FileDevice No
Sandboxing Relaxed
SystemGroup root
CONF
chmod -R go-w "$D/conf"
cupsd -f -c "$D/conf/cupsd.conf" -s "$D/conf/cups-files.conf" </dev/null >"$D/log/cupsd.out" 2>&1 &
CUPSD_PID=$!
export CUPS_SERVER=$D/run/cups.sock
for _ in $(seq 100); do
    [ -S "$CUPS_SERVER" ] && lpstat -r >/dev/null 2>&1 && break
    sleep 0.1
done
if ! lpstat -r >/dev/null 2>&1; then
    echo "FAIL cupsd did not start"
    cat "$D/log/cupsd.out" "$D/log/error_log" 2>/dev/null | tail -20
    exit 1
fi

start_virtual_printer "$PRINTER" "$D/nv.bit" "$D/prints" "$D/printer.log" ||
    { echo "FAIL the virtual printer did not start"; exit 1; }
address=$VP_ADDRESS

lpadmin -p Receipt -E -v "tessera-forward://$address" -P "$HERE/model.ppd" 2>"$D/lpadmin.err" &&
    lpadmin -p Office -E -v "tessera-forward://$address" -P "$HERE/other.ppd" 2>>"$D/lpadmin.err" ||
    { echo "FAIL lpadmin: $(cat "$D/lpadmin.err")"; exit 1; }

listed=$("$NVLOGO" printers 2>&1)
check "nvlogo printers lists the queue of the supported model only: $listed" test "$listed" = $'Receipt\tVELKA KTX410'

logos=("$EXAMPLES/shop-logo.bmp" "$EXAMPLES/badge.bmp")
"$NVLOGO" save -H indexed-order -o "$D/expected.bit" "${logos[@]}"
check "upload through driver:Receipt" "$NVLOGO" upload -H indexed-order -p driver:Receipt "${logos[@]}"
arrived=false
for _ in $(seq 200); do
    cmp -s "$D/nv.bit" "$D/expected.bit" && { arrived=true; break; }
    sleep 0.1
done
check "the virtual printer's NV memory is exactly the saved stream" $arrived

check "a queue that does not exist fails" test "$("$NVLOGO" erase -p driver:Missing >/dev/null 2>&1; echo $?)" = 1
cupsdisable Receipt
check "a stopped queue fails" test "$("$NVLOGO" erase -p driver:Receipt >/dev/null 2>&1; echo $?)" = 1
[ "$failures" -eq 0 ] || { tail -20 "$D/log/error_log" 2>/dev/null; cat "$D/printer.log"; }
exit "$failures"
