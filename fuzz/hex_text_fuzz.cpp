// The readers of the files that hold NV images: `.txt` text (parseHexText), the `.bit` reader that loads
// the virtual printer's NV file, and the reader that tells the two apart. What they accept must format back
// to an equivalent file.

#include "printer/logo_files.h"
#include "tools/nvlogo_printer/nv_file.h"

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessera;
    const std::span<const std::uint8_t> input(data, size);

    auto text = parseHexText(input);
    if (text) {
        auto again = parseHexText(formatLogoFile(*text, HEX));
        check(again && *again == *text);
    }

    auto images = vp::parseNvFile(input);
    if (images) {
        check(images->size() <= 255 &&
              vp::formatNvFile(*images) == std::vector<std::uint8_t>(input.begin(), input.end()));
        for (const auto& image : *images) {
            check(vp::validImageSize(image->xUnits, image->yUnits));
            check(image->data.size() == vp::imageDataBytes(image->xUnits, image->yUnits));
        }
    }

    auto either = vp::parseImageFile(input);
    check(either.ok() == (text ? vp::parseNvFile(*text).ok() : images.ok()));
    return 0;
}
