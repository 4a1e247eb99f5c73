#!/usr/bin/env bash
# Builds the packages from the test builds and checks them:
#   - the .deb (build/linux): it holds the programs, their manual pages, the bash completion, the udev rule
#     and the examples; unpacked into a scratch root with dpkg -x, its nvlogo uploads the examples to its
#     nvlogo-printer over loopback, and the printer's NV file equals what nvlogo save writes;
#   - the zip (build/windows): it holds exactly Tessera.exe, nvlogo.exe, nvlogo-printer.exe and README.txt,
#     and its programs import system DLLs only.
# Usage: scripts/package-tests.sh   (after the linux and windows builds; configures and builds what is missing)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

passed=0 failed=0
say() { echo "package-tests: $*" >&2; }
check() { # NAME COMMAND...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); say "FAIL: $name"; fi
}

source scripts/virtual-printer.sh
SCRATCH=$(mktemp -d)
cleanup() {
    stop_virtual_printer
    rm -rf "$SCRATCH"
}
trap cleanup EXIT

build_package() { # PRESET -> prints the package path
    local preset=$1 dir=build/$1 pattern=$2
    [ -f "$dir/build.ninja" ] || cmake --preset "$preset" >/dev/null || return 1
    cmake --build --preset "$preset" >/dev/null || return 1
    rm -f "$dir"/$pattern
    (cd "$dir" && cpack >/dev/null) || return 1
    ls "$dir"/$pattern 2>/dev/null | head -1
}

# ---- the .deb
deb=$(build_package linux 'tessera_*.deb') || deb=
if [ -z "$deb" ]; then
    check "linux package built" false
else
    say "checking $deb"
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
    expect=(usr/bin/nvlogo usr/bin/nvlogo-printer usr/share/man/man1/nvlogo.1.gz usr/share/man/man1/nvlogo-printer.1.gz
        usr/share/bash-completion/completions/nvlogo usr/share/bash-completion/completions/nvlogo-printer
        usr/share/doc/tessera/README.md usr/share/doc/tessera/examples/shop-logo.bmp)
    for rule in udev/*.rules; do [ -f "$rule" ] && expect+=("usr/lib/udev/rules.d/$(basename "$rule")"); done
    missing=()
    for path in "${expect[@]}"; do grep -qx "$path" <<<"$contents" || missing+=("$path"); done
    check "deb holds ${missing[*]:-everything}" test ${#missing[@]} -eq 0
    # nvlogo opens libcups and libusb at run time, where the package tools cannot see them.
    for lib in libcups2 libusb-1.0-0; do
        check "deb depends on $lib" bash -c "dpkg-deb -f '$deb' Depends | grep -qw -- '$lib'"
    done

    root=$SCRATCH/root
    dpkg -x "$deb" "$root"
    bin=$root/usr/bin
    check "unpacked nvlogo --version" bash -c "'$bin/nvlogo' --version | grep -qx 'nvlogo [0-9.]*'"
    check "unpacked nvlogo-printer --help" bash -c "'$bin/nvlogo-printer' --help | grep -q -- --listen"
    check "unpacked nvlogo-printer --version" bash -c "'$bin/nvlogo-printer' --version | grep -qx 'nvlogo-printer [0-9.]*'"
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        check "manual page $(basename "$page")" bash -c "zcat '$page' | grep -q '^\.SH COMMANDS\|^\.SH DESCRIPTION'"
        check "manual page $(basename "$page") names the version and its date" \
            bash -c "zcat '$page' | grep -q '^\.TH .* \"[0-9-]*\" \"Tessera [0-9.]*\"'"
        check "manual page $(basename "$page") shows no parser type labels" \
            bash -c "! zcat '$page' | grep -qE '\b(TEXT|U?INT|REQUIRED)\b'"
        if command -v man >/dev/null 2>&1; then
            warnings=$(MANWIDTH=100 man --warnings -l "$page" 2>&1 >/dev/null)
            check "manual page $(basename "$page") renders cleanly${warnings:+: $warnings}" test -z "$warnings"
        fi
    done
    # The completion offers the subcommands, the modes after -H, and each command's own options.
    complete_words() { # WORDS... (the first names the program, whose completion is loaded by its name)
        local fn=_${1//-/_}
        bash -c 'source "$1"; fn=$2; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); $fn; echo "${COMPREPLY[*]}"' \
            _ "$root/usr/share/bash-completion/completions/$1" "$fn" "$@"
    }
    check "completion of 'nvlogo up' gives upload" test "$(complete_words nvlogo up)" = upload
    check "completion of 'nvlogo save -H e' gives error-diffusion" \
        test "$(complete_words nvlogo save -H e)" = error-diffusion
    check "completion of 'nvlogo printers --a' gives --all" test "$(complete_words nvlogo printers --a)" = --all
    check "completion of 'nvlogo-printer decode --' gives --out --force --help" \
        test "$(complete_words nvlogo-printer decode --)" = "--out --force --help"
    check "completion of 'nvlogo-printer --re' gives --ready-file --refuse" \
        test "$(complete_words nvlogo-printer --re)" = "--ready-file --refuse"

    # An upload from the unpacked tools to the unpacked virtual printer.
    examples=("$root"/usr/share/doc/tessera/examples/*.bmp)
    if ! start_virtual_printer "$bin/nvlogo-printer" "$SCRATCH/nv.bit" "$SCRATCH/prints" "$SCRATCH/printer.log"; then
        check "unpacked nvlogo-printer starts" false
    else
        check "unpacked nvlogo upload" "$bin/nvlogo" upload -H error-diffusion -p "tcp:$VP_ADDRESS" "${examples[@]}"
        check "unpacked nvlogo print" "$bin/nvlogo" print -p "tcp:$VP_ADDRESS"
        "$bin/nvlogo" save -H error-diffusion -o "$SCRATCH/expected.bit" "${examples[@]}"
        check "NV file equals the saved stream" cmp -s "$SCRATCH/nv.bit" "$SCRATCH/expected.bit"
        check "a printout was written" test -s "$SCRATCH/prints/print-0001.png"
    fi
fi

# ---- the zip
zip=$(build_package windows 'tessera-*.zip') || zip=
if [ -z "$zip" ]; then
    check "windows package built" false
else
    say "checking $zip"
    listing=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
    expected=$(printf '%s\n' README.txt Tessera.exe nvlogo-printer.exe nvlogo.exe | sort)
    check "zip holds exactly $(echo $expected) (has: $(echo $listing))" test "$listing" = "$expected"
    unzipped=$SCRATCH/zip
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unzipped"
    system="advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll imm32.dll iphlpapi.dll
        kernel32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll setupapi.dll shell32.dll shlwapi.dll
        user32.dll uxtheme.dll version.dll winmm.dll winspool.drv ws2_32.dll"
    for exe in "$unzipped"/*.exe; do
        dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
        foreign=()
        for dll in $dlls; do [[ " $(echo $system) " == *" $dll "* ]] || foreign+=("$dll"); done
        check "$(basename "$exe") imports system DLLs only${foreign[*]:+ (not: ${foreign[*]})}" \
            test -n "$dlls" -a ${#foreign[@]} -eq 0
    done
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
