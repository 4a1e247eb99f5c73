// The check that send makes of a file before it reaches a printer, on its bytes and on the bytes a text file
// spells. What it accepts must be exactly one definition: the count byte, each size in range, each image's
// data, and nothing after the last; or, for NV graphics, whole defines, each counting its own bytes.

#include "printer/logo_files.h"
#include "printer/nv_graphics.h"
#include "printer/stream_check.h"

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The defines walked again from their own count bytes, which must land on each summary's data and end the
// stream.
void checkGraphics(std::span<const std::uint8_t> bytes, const tessera::StreamSummary& r) {
    check(bytes.size() >= 3 && bytes[0] == 0x1B && bytes[1] == 0x40 && !r.defines.empty());
    std::size_t at = bytes[3] == 0x28 && bytes[5] == 0x05 ? 12 : 2, data = 0;
    for (const tessera::GraphicsDefine& d : r.defines) {
        const bool long_ = bytes[at + 1] == 0x38;
        std::size_t count = bytes[at + 3] | bytes[at + 4] << 8;
        if (long_) count |= std::size_t(bytes[at + 5]) << 16 | std::size_t(bytes[at + 6]) << 24;
        const std::size_t params = at + (long_ ? 7 : 5);
        check(bytes[params + 3] == std::uint8_t(d.key[0]) && bytes[params + 4] == std::uint8_t(d.key[1]));
        check(tessera::validGraphicsKey(d.key) && d.width >= 1 && d.width <= 8192 && d.height >= 1 && d.height <= 2304);
        const std::size_t k = std::size_t(d.width + 7) / 8 * std::size_t(d.height);
        check(count == 11 + k && d.dataOffset == params + 11);
        at = params + count;
        data += k;
        check(at <= bytes.size());
    }
    check(at == bytes.size() && data == r.dataBytes && r.images == int(r.defines.size()));
}

void checkStream(std::span<const std::uint8_t> bytes) {
    auto r = tessera::checkSavedStream(bytes);
    if (!r) {
        check(r.error().message.rfind("at offset ", 0) == 0);
        return;
    }
    if (r->family == tessera::StreamFamily::Graphics) return checkGraphics(bytes, *r);
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
