#!/usr/bin/env bash
# Winsock against the virtual printer: the Linux printer runs in this network namespace, so nvlogo.exe reaches
# it on 127.0.0.1 and every byte goes through Wine's Winsock. Its NV file shows what it executed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

NET=$WORK/net
mkdir -p "$NET/in" "$NET/logs"
net_logos=()
for f in "$ROOT"/examples/*.bmp; do
    cp "$f" "$NET/in/"
    net_logos+=("$(basename "$f")")
done

# net_fail WHAT [LOG-NAME [PRINTER-DIR]]: the output of the Wine run and the printer's log explain the failure.
net_fail() {
    fail "winsock: $1"
    [ -z "${2:-}" ] || show_run_logs "$NET" "$2"
    [ -z "${3:-}" ] || show_printer_log "$3"
}

# expect_exit CODE WHAT LOG-NAME PRINTER-DIR: counts the last wine_nvlogo run; returns 1 on a mismatch.
expect_exit() {
    local want=$1 what=$2 log=$3 dir=$4
    if [ "$wrc" -eq "$want" ]; then
        pass
        return 0
    fi
    net_fail "$what: exit code $wrc, expected $want$(exit_note "$wrc")" "$log" "$dir"
    return 1
}

# expect_nv WHAT REFERENCE PRINTER-DIR LOG-NAME: the printer's NV file equals REFERENCE (a file, or "empty").
expect_nv() {
    local what=$1 ref=$2 dir=$3 log=$4 nv=$3/nv.bit why=
    if [ ! -f "$nv" ]; then
        why="the printer has no nv.bit"
    elif [ "$ref" = empty ]; then
        [ ! -s "$nv" ] || why="nv.bit has $(stat -c %s "$nv") bytes, expected 0"
    elif ! cmp -s "$ref" "$nv"; then
        why="nv.bit differs from $(basename "$ref"): $(cmp "$ref" "$nv" 2>&1 | sed 's/^.*differ: //' || true); sizes $(stat -c %s "$ref") and $(stat -c %s "$nv")"
    fi
    if [ -z "$why" ]; then
        pass
        return
    fi
    # Tells a late write apart from a wrong one, without counting it as a pass: a zero exit must mean done.
    sleep 1
    local late=false
    if [ "$ref" = empty ]; then
        [ -f "$nv" ] && [ ! -s "$nv" ] && late=true
    else
        cmp -s "$ref" "$nv" && late=true
    fi
    ! $late || why+="; right 1 s later, so nvlogo.exe returned before the printer had executed the data"
    net_fail "$what: $why" "$log" "$dir"
}

win_logos=()
for l in "${net_logos[@]}"; do win_logos+=("in\\$l"); done
ref_ok=true
if [ ${#net_logos[@]} -ne 3 ]; then
    net_fail "expected the three examples/*.bmp, found ${#net_logos[@]}"
    ref_ok=false
elif ! (cd "$NET/in" && "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o ../x.bit "${net_logos[@]}" &&
    "$LINUX_NVLOGO" save -H error-diffusion -b 5 -f hex -o ../x.txt "${net_logos[@]}") \
    </dev/null >"$NET/logs/reference.log" 2>&1; then
    net_fail "the Linux nvlogo could not write the reference x.bit and x.txt" reference
    ref_ok=false
fi

if $ref_ok && start_printer "$NET/good"; then
    good=$printer_dir
    port=127.0.0.1:$printer_port
    wine_nvlogo "$NET" upload 20 upload -H error-diffusion -b 5 --port "$port" "${win_logos[@]}"
    expect_exit 0 "upload of the three logos" upload "$good" && say "winsock: upload took $welapsed ms"
    expect_nv "after the upload" "$NET/x.bit" "$good" upload

    wine_nvlogo "$NET" print 20 print --range 1-3 --port "$port"
    expect_exit 0 "print --range 1-3" print "$good"
    png=$good/prints/print-0001.png
    if [ -s "$png" ] && [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; then
        pass
    else
        net_fail "print --range 1-3 left no print-0001.png (prints: $(cd "$good/prints" && echo *))" print "$good"
    fi

    wine_nvlogo "$NET" erase 20 erase --port "$port"
    expect_exit 0 "erase" erase "$good"
    expect_nv "after the erase" empty "$good" erase

    wine_nvlogo "$NET" send 20 send --port "$port" x.txt
    expect_exit 0 "send x.txt" send "$good"
    expect_nv "after send x.txt" "$NET/x.bit" "$good" send
    stop_pid "$printer_pid"
fi

# Failures must reach the exit code: the printer's log shows that nvlogo.exe got as far as the fault.
if start_printer "$NET/refusing" --refuse; then
    wine_nvlogo "$NET" refused 20 erase --port "127.0.0.1:$printer_port"
    if expect_exit 1 "erase against a refusing printer" refused "$printer_dir"; then
        grep -q 'refused (--refuse)' "$printer_dir/printer.log" ||
            say "warning: winsock: exit code 1, but the refusing printer saw no connection"
    fi
    say "winsock: refused: $(head -n 1 "$NET/logs/refused.err")"
    stop_pid "$printer_pid"
fi

if start_printer "$NET/dropping" --close-after 2000; then
    wine_nvlogo "$NET" dropped 20 upload -H error-diffusion -b 5 --port "127.0.0.1:$printer_port" "${win_logos[@]}"
    if expect_exit 1 "upload to a printer that resets after 2000 bytes" dropped "$printer_dir"; then
        grep -q 'reset (--close-after)' "$printer_dir/printer.log" ||
            say "warning: winsock: exit code 1, but the printer did not reset a connection"
    fi
    say "winsock: dropped: $(head -n 1 "$NET/logs/dropped.err")"
    closed_port=$printer_port
    stop_pid "$printer_pid"

    # The stopped printer's port: nothing listens there any more, inside this namespace.
    wine_nvlogo "$NET" closed 10 erase --port "127.0.0.1:$closed_port"
    if expect_exit 1 "erase against a closed port" closed ""; then
        if [ "$welapsed" -lt 4000 ]; then
            pass
        else
            net_fail "erase against a closed port took $welapsed ms, expected under 4000" closed
        fi
    fi
    say "winsock: closed port: exit $wrc after $welapsed ms: $(head -n 1 "$NET/logs/closed.err")"
fi
part_summary winsock
