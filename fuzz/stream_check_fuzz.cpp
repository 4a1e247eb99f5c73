// The check that send makes of a file before it reaches a printer, on its bytes and on the bytes a text file
// spells. What it accepts must be exactly one definition: the count byte, each size in range, each image's
// data, and nothing after the last.

#include "printer/logo_files.h"
#include "printer/stream_check.h"

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkStream(std::span<const std::uint8_t> bytes) {
    auto r = tessera::checkSavedStream(bytes);
    if (!r) {
        check(r.error().message.rfind("at offset ", 0) == 0);
        return;
    }
    check(bytes.size() >= 5 && r->images == bytes[4] && r->images >= 1);
    std::size_t at = 5, data = 0;
    for (int i = 0; i < r->images; ++i) {
        check(bytes.size() - at >= 4);
        const std::size_t x = bytes[at] | bytes[at + 1] << 8, y = bytes[at + 2] | bytes[at + 3] << 8;
        check(x >= 1 && x <= 1023 && y >= 1 && y <= 288);
        at += 4 + 8 * x * y;
        data += 8 * x * y;
        check(at <= bytes.size());
    }
    check(at == bytes.size() && data == r->dataBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Whole streams of large images cannot come from short inputs; longer ones only slow the search.
    if (size > 1 << 16) return 0;
    const std::span<const std::uint8_t> input(data, size);
    checkStream(input);
    if (auto text = tessera::parseHexText(input)) checkStream(*text);
    return 0;
}
