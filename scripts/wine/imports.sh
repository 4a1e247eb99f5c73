#!/usr/bin/env bash
# Imports: a static build needs no DLL beside the exe. Anything outside this list is a DLL that a bare Windows
# does not have (the mingw runtime, a UCRT forwarder on an old system, a third-party library).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SYSTEM_DLLS=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll imm32.dll iphlpapi.dll
 kernel32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll setupapi.dll shell32.dll shlwapi.dll
 user32.dll uxtheme.dll version.dll winmm.dll winspool.drv ws2_32.dll "
SYSTEM_DLLS=${SYSTEM_DLLS//$'\n'/ }

mapfile -t exes < <(product_exes)
[ ${#exes[@]} -gt 0 ] || fail "imports: build/windows has no exe"
for exe in "${exes[@]}"; do
    rel=${exe#"$WIN_BUILD"/}
    dlls=$("$OBJDUMP" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ') || dlls=
    foreign=()
    for dll in $dlls; do [[ $SYSTEM_DLLS == *" $dll "* ]] || foreign+=("$dll"); done
    if [ -z "$dlls" ]; then
        fail "imports of $rel: objdump found no import table"
    elif [ ${#foreign[@]} -gt 0 ]; then
        fail "imports of $rel: needs non-system DLLs: ${foreign[*]}"
    else
        pass
    fi
done
say "imports: $part_passed of ${#exes[@]} exe(s) need system DLLs only ($("$OBJDUMP" -p "$WIN_NVLOGO" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')for nvlogo.exe)"
