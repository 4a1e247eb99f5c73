#!/usr/bin/env bash
# Plants one-line faults in a scratch copy of the source, one at a time, rebuilds, runs the native tests and
# lists the faults no test caught. Not part of CI: run it before and after changing the tests, to show that
# the suite still notices each fault below.
#
# Usage: scripts/mutants.sh [-L LABEL_REGEX] [NAME...]
#   -L LABELS       run only the tests of these labels, given as "printer|port" (default: every label but
#                   cups), and build only their test executables
#   NAME...         run only these faults (default: all of them)
# Environment:
#   MUTANTS_DIR   the scratch folder (default build/mutants); kept between runs, so that a later run rebuilds
#                 only what changed (ccache is used when it is installed)
#   MUTANTS_JOBS  parallel tests and compiles (default 2)
#
# Each fault is a name, a file, a text that must occur exactly once in that file, and its replacement. A
# text that no longer occurs exactly once is reported as stale: the fault must be brought up to date with
# the code, not silently skipped. Exit code 0 when every fault was caught, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

labels="" only=()
while [ $# -gt 0 ]; do
    case $1 in
    -L)
        labels=$2
        shift 2
        ;;
    -h | --help)
        sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    -*)
        echo "usage: $0 [-L LABEL_REGEX] [NAME...]" >&2
        exit 2
        ;;
    *)
        only+=("$1")
        shift
        ;;
    esac
done

scratch=${MUTANTS_DIR:-$root/build/mutants}
jobs=${MUTANTS_JOBS:-2}
src=$scratch/src build=$scratch/build

# name ~ file ~ exact text ~ replacement: one fault a line, the fields parted by " ~ " (which no field holds)
faults=$(
    cat <<'EOF'
encoder-threshold ~ printer/nv_image_encoder.cpp ~ dots[x] = grey(px[0], px[1], px[2]) <= threshold; ~ dots[x] = grey(px[0], px[1], px[2]) < threshold;
encoder-channel-weight ~ printer/nv_image_encoder.cpp ~         blue_[c] = v * 0.114; ~         blue_[c] = v * 0.299;
encoder-diffusion-weight ~ image/flat_diffusion.cpp ~ of[p] = {e / 42, 2 * e / 42, 4 * e / 42, 8 * e / 42}; ~ of[p] = {e / 42, 2 * e / 42, 4 * e / 42, 7 * e / 42};
encoder-right-edge-wrap ~ image/flat_diffusion.cpp ~         if (col < 0) continue; ~         if (col < 0 || col >= width_) continue;
encoder-matrix-orientation ~ printer/nv_image_encoder.cpp ~ dots[x] = m[x % 8] >= level64[grey(px[0], px[1], px[2])]; ~ dots[x] = kDitherMatrix[x % 8][y % 8] >= level64[grey(px[0], px[1], px[2])];
encoder-white-first ~ printer/nv_image_encoder.cpp ~ halftoneSkipped_ = image.info.bitCount > 1 && image.pixel(0, 0) == kWhite; ~ halftoneSkipped_ = image.info.bitCount > 1 && image.pixel(0, image.height() - 1) == kWhite;
stream-count-byte ~ printer/nv_command_stream.cpp ~ 0x1C, 0x71, static_cast<std::uint8_t>(logos.size())}; ~ 0x1C, 0x71, static_cast<std::uint8_t>(logos.size() - 1)};
stream-size-byte-order ~ printer/nv_command_stream.cpp ~ static_cast<std::uint8_t>(logo.yUnits & 0xFF), ~ static_cast<std::uint8_t>(logo.yUnits >> 8),
stream-erase-bytes ~ printer/nv_command_stream.cpp ~ static constexpr std::uint8_t kErase[2] = {0x1C, 0x65}; ~ static constexpr std::uint8_t kErase[2] = {0x1C, 0x66};
stream-scaling-byte ~ printer/nv_command_stream.cpp ~ return quality >= 0 && quality <= 3 ? static_cast<std::uint8_t>(0x30 + quality) : 0x30; ~ return quality >= 0 && quality < 3 ? static_cast<std::uint8_t>(0x30 + quality) : 0x30;
files-hex-format ~ printer/logo_files.cpp ~         text.push_back(' '); ~         text.push_back('\n');
files-atomic-rename ~ base/file_io_posix.cpp ~ tmp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt); ~ tmp = target;
serial-64-byte-pieces ~ port/serial_port.h ~ static constexpr std::size_t kPieceBytes = 64; ~ static constexpr std::size_t kPieceBytes = 65;
serial-piece-time-out ~ port/serial_port.cpp ~         } else if (now - idleSince >= static_cast<std::uint32_t>(kPieceTimeout.count())) { ~         } else if (now - idleSince >= 10 * static_cast<std::uint32_t>(kPieceTimeout.count())) {
tcp-partial-send ~ port/tcp_client.cpp ~             bytes = bytes.subspan(std::min(r.count, bytes.size())); ~             bytes = {};
confirm-wait ~ printer/confirmed_transfer.cpp ~ return milliseconds(5000 + (streamBytes * 1000 + 10239) / 10240); ~ return milliseconds(5000 + (streamBytes * 1000) / 10240);
usb-piece-size ~ port/usb_printer.h ~ static constexpr std::size_t kPieceBytes = 1024; ~ static constexpr std::size_t kPieceBytes = 4096;
reply-xoff ~ printer/reply_reader.cpp ~     if (b == kXon || b == kXoff) return; ~     if (b == kXon) return;
reply-status-block ~ printer/reply_reader.cpp ~     return (b & 0x93) == 0x10; ~     return (b & 0x90) == 0x10;
reply-decimal-overflow ~ printer/reply_reader.cpp ~         if (v > (UINT64_MAX - d) / 10) return std::nullopt; ~         if (v > UINT64_MAX / 10) return std::nullopt;
dialog-enabling-rule ~ app/nv_upload_dlg.cpp ~     host_.enable(IDC_TCP_PORT, network); ~     host_.enable(IDC_TCP_PORT, !serial);
dialog-255-limit ~ app/nv_upload_dlg.cpp ~     if (logoCount_ >= kMaxListedLogos) { ~     if (logoCount_ > kMaxListedLogos) {
dialog-settings-line ~ app/settings_files.cpp ~ constexpr std::string_view kLineEnd = "\r\r\n"; ~ constexpr std::string_view kLineEnd = "\r\n";
dialog-message-text ~ app/nv_upload_dlg.cpp ~ "Out of range bitmap file." ~ "Out of range bitmap file"
EOF
)

# The scratch copy: every file git knows of (tracked, or new and not ignored) as it is in the working tree.
# Unchanged files keep their times, so that the build redoes only what changed since the last run.
mkdir -p "$src" "$build"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
done >"$scratch/files"
tar --null -T "$scratch/files" -cf - | tar -xf - -C "$src" || exit 1
# A file gone from the source must go from the copy too (the tests glob their folders).
(cd "$src" && find . -type f -printf '%P\0') | sort -z >"$scratch/copied"
sort -z "$scratch/files" | comm -z -23 "$scratch/copied" - | (cd "$src" && xargs -0r rm -f)

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ -DTESSERA_BENCH=OFF "${launcher[@]}" >"$scratch/configure.log" 2>&1 || {
    tail -20 "$scratch/configure.log" >&2
    exit 1
}

selection=(-LE cups) targets=()
if [ -n "$labels" ]; then
    selection=(-L "$labels")
    # A label is a test executable's subsystem: "printer|port" builds printer_tests and port_tests only.
    IFS='|' read -ra names <<<"$labels"
    targets=(--target)
    for name in "${names[@]}"; do targets+=("${name}_tests"); done
fi
build() { cmake --build "$build" -j "$jobs" "${targets[@]}" </dev/null >"$scratch/build.log" 2>&1; }
suite() {
    ctest --test-dir "$build" -j "$jobs" "${selection[@]}" --timeout 120 --stop-on-failure \
        </dev/null >"$scratch/test.log" 2>&1
}

echo "mutants: building the unchanged source in $build${labels:+ (labels $labels)}" >&2
build || {
    tail -30 "$scratch/build.log" >&2
    exit 1
}
suite || {
    echo "mutants: the unchanged source fails its tests; see $scratch/test.log" >&2
    exit 1
}

survivors=() stale=() caught=0
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=${line%% ~ *} rest=${line#* ~ }
    file=${rest%% ~ *} rest=${rest#* ~ }
    find=${rest%% ~ *} replace=${rest#* ~ }
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then continue; fi
    target=$src/$file
    if ! FIND=$find REPLACE=$replace python3 - "$target" <<'PY'; then
import os, sys
path = sys.argv[1]
try:
    text = open(path, encoding="utf-8").read()
except OSError:
    sys.exit(1)
if text.count(os.environ["FIND"]) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(os.environ["FIND"], os.environ["REPLACE"]))
PY
        echo "stale     $name ($file: the text does not occur exactly once)"
        stale+=("$name")
        continue
    fi
    started=$(date +%s)
    if ! build; then
        verdict="caught    $name (does not build)"
        caught=$((caught + 1))
    elif suite; then
        verdict="SURVIVED  $name ($file)"
        survivors+=("$name")
    else
        failed=$(grep -m1 -E '^\s*[0-9]+ - ' "$scratch/test.log" | sed -E 's/^\s*[0-9]+ - //; s/ \(.*//')
        verdict="caught    $name by ${failed:-a failing test}"
        caught=$((caught + 1))
    fi
    echo "$verdict  [$(($(date +%s) - started)) s]"
    # A fresh time on the restored file makes the next build take it again.
    cp "$root/$file" "$target"
done <<<"$faults"
build >/dev/null 2>&1

echo "mutants: $caught caught, ${#survivors[@]} survived, ${#stale[@]} stale"
[ ${#survivors[@]} -gt 0 ] && echo "survivors: ${survivors[*]}"
[ ${#stale[@]} -gt 0 ] && echo "stale: ${stale[*]}"
[ ${#survivors[@]} -eq 0 ] && [ ${#stale[@]} -eq 0 ]
