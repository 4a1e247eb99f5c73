# Sourced by the scripts that need a virtual printer for a while:
#   start_virtual_printer PROGRAM NV-FILE OUT-DIR LOG   starts it on a free loopback port; sets VP_PID and
#                                                       VP_ADDRESS (127.0.0.1:PORT); returns 1 if it did not
#   stop_virtual_printer                                stops the one started, if any
VP_PID=
VP_ADDRESS=

start_virtual_printer() {
    local program=$1 nv=$2 out=$3 log=$4
    local ready=$log.ready
    # It takes a free port and writes it to the ready file, whole, once it listens.
    rm -f "$ready"
    "$program" --listen 127.0.0.1:0 --ready-file "$ready" --nv "$nv" --out "$out" >"$log" 2>&1 &
    VP_PID=$!
    VP_ADDRESS=
    for _ in $(seq 200); do
        [ -e "$ready" ] && VP_ADDRESS=$(cat "$ready") && return 0
        kill -0 "$VP_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "the virtual printer did not start:" >&2
    cat "$log" >&2
    stop_virtual_printer
    return 1
}

stop_virtual_printer() {
    if [ -n "$VP_PID" ]; then
        kill "$VP_PID" 2>/dev/null || true
        wait "$VP_PID" 2>/dev/null || true
        VP_PID=
    fi
}
