#!/usr/bin/env bash
# The window: Tessera.exe started from a folder of its own, driven by gui_driver.exe as a person would. A first
# start (no settings files, no printer) checks the start values; a second start with both settings files adds
# a logo in the open-file dialog and uploads the list to the Linux virtual printer over Winsock. The printer's
# NV file must equal what nvlogo save writes, and closing must write both settings files. The same first
# start runs again at 144 dots per inch.
#
# Screenshots land in build/windows/screenshots/, and in docs/screenshots/ only with --update-screenshots.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

G=$WORK/gui
driver=$WIN_BUILD/tests/gui_driver.exe
app=$WIN_BUILD/app/Tessera.exe
ex=$ROOT/examples
rm -rf "$SCREENSHOT_DIR"
mkdir -p "$G/first" "$G/second" "$G/dpi" "$G/logs" "$SCREENSHOT_DIR"
if [ ! -f "$driver" ] || [ ! -f "$app" ]; then
    fail "gui: Tessera.exe or gui_driver.exe was not built"
    exit 0
fi
for run in first second dpi; do cp "$app" "$G/$run/Tessera.exe"; done

gui_run() { # LOG ARG...: the driver's own checks count one each
    local log=$1 rc=0 line
    shift
    timeout -k 5 180 wine64 "$driver" "$@" </dev/null >"$G/logs/$log.out" 2>"$G/logs/$log.err" || rc=$?
    while IFS= read -r line; do
        case $line in ok\ *) pass ;; FAIL\ *) fail "gui $log: ${line#FAIL }" ;; esac
    done <"$G/logs/$log.out"
    [ "$rc" -eq 0 ] || fail "gui $log: the driver exited with $rc"
}
shot() { # BMP NAME
    if python3 "$ROOT/scripts/bmp_to_png.py" "$1" "$SCREENSHOT_DIR/$2.png"; then pass; else fail "gui: screenshot $2"; fi
}

gui_run first empty "$(winpath "$G/first/Tessera.exe")" "$(winpath "$G/first.bmp")" "$(winpath "$G/splash.bmp")"
shot "$G/first.bmp" main-empty
shot "$G/splash.bmp" splash
if [ -s "$G/first/files.ini" ] || ! grep -q $'^Port=2\r\r$' "$G/first/nvupload.ini" 2>/dev/null; then
    fail "gui: the first run's close did not write an empty files.ini and Port=2 in nvupload.ini"
else
    pass
fi

printf '[LOGO]\r\r\nLogofile1=%s|badge.bmp|1152|96|96\r\r\nLogofile2=%s|line-drawing.bmp|3000|120|200\r\r\n' \
    "$(winpath "$ex/badge.bmp")" "$(winpath "$ex/line-drawing.bmp")" >"$G/second/files.ini"
printf '[LOGO]\r\r\nPort=3\r\r\nBaudRate=3\r\r\nBitLength=0\r\r\nParity=0\r\r\nStopBit=0\r\r\nHandShake=0\r\r\n' \
    >"$G/second/nvupload.ini"
if start_printer "$G/printer"; then
    gui_run second upload "$(winpath "$G/second/Tessera.exe")" "$(winpath "$ex/shop-logo.bmp")" 127.0.0.1 \
        "$printer_port" "$(winpath "$G/second.bmp")" "$(winpath "$G/question.bmp")"
    stop_pid "$printer_pid"
    shot "$G/second.bmp" main-logos
    shot "$G/question.bmp" upload-question
    "$LINUX_NVLOGO" save -H error-diffusion -b 5 -o "$G/expected.bit" "$ex/badge.bmp" "$ex/line-drawing.bmp" \
        "$ex/shop-logo.bmp" </dev/null >"$G/logs/reference.log" 2>&1
    if cmp -s "$printer_dir/nv.bit" "$G/expected.bit"; then
        pass
    else
        fail "gui: the printer's NV memory is not the stream of the three logos ($(cmp "$printer_dir/nv.bit" "$G/expected.bit" 2>&1))"
    fi
    expected_list=$(printf '[LOGO]\r\r\nLogofile1=%s|badge.bmp|1152|96|96\r\r\nLogofile2=%s|line-drawing.bmp|3000|120|200\r\r\nLogofile3=%s|shop-logo.bmp|11520|160|576\r\r\n' \
        "$(winpath "$ex/badge.bmp")" "$(winpath "$ex/line-drawing.bmp")" "$(winpath "$ex/shop-logo.bmp")")
    if [ "$(cat "$G/second/files.ini")" = "$expected_list" ] && grep -q $'^Port=3\r\r$' "$G/second/nvupload.ini"; then
        pass
    else
        fail "gui: files.ini or nvupload.ini after the second run is not as expected (see $G/second)"
    fi
fi

# The same first start at 144 dots per inch: every control must still be in place.
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:00000090\n' >"$G/dpi.reg"
timeout -k 5 60 wine64 regedit /S "$(winpath "$G/dpi.reg")" </dev/null >/dev/null 2>&1 || true
restart_wineserver
gui_run dpi empty "$(winpath "$G/dpi/Tessera.exe")" "$(winpath "$G/dpi.bmp")" "$(winpath "$G/dpi-splash.bmp")"
shot "$G/dpi.bmp" main-144dpi

where=${SCREENSHOT_DIR#"$ROOT"/}/
if [ "${TESSERA_UPDATE_SCREENSHOTS:-}" = 1 ]; then
    # Pictures of a run that went wrong would document the fault, not the program.
    if [ "$part_failed" -eq 0 ]; then
        mkdir -p "$ROOT/docs/screenshots"
        cp "$SCREENSHOT_DIR"/*.png "$ROOT/docs/screenshots/"
        where+=" and docs/screenshots/"
    else
        say "gui: docs/screenshots/ left as it was, since a check failed"
    fi
fi
part_summary gui "screenshots in $where"
