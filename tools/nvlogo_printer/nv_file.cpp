#include "tools/nvlogo_printer/nv_file.h"

#include "printer/logo_files.h"
#include "printer/nv_image_encoder.h"

#include <algorithm>
#include <string>

namespace tessera::vp {

namespace {

constexpr std::uint8_t kDefinitionStart[4] = {0x1B, 0x40, 0x1C, 0x71};

Error badAt(std::size_t offset, const std::string& what) {
    return badInput(what + " at offset " + std::to_string(offset));
}

} // namespace

bool validImageSize(int xUnits, int yUnits) {
    return xUnits >= 1 && xUnits <= kMaxNvWidthUnits && yUnits >= 1 && yUnits <= kMaxNvHeightUnits;
}

Result<ImageList> parseNvFile(std::span<const std::uint8_t> bytes) {
    ImageList images;
    if (bytes.empty()) return images;
    if (bytes.size() < 5 || !std::equal(kDefinitionStart, kDefinitionStart + 4, bytes.begin()))
        return badAt(0, "not an NV image file (it must start with 1B 40 1C 71 n)");
    const int count = bytes[4];
    if (count == 0) return badAt(4, "a definition of 0 images");
    std::size_t pos = 5;
    for (int i = 0; i < count; ++i) {
        if (bytes.size() - pos < 4) return badAt(pos, "image " + std::to_string(i + 1) + " header cut off");
        const int x = bytes[pos] | bytes[pos + 1] << 8;
        const int y = bytes[pos + 2] | bytes[pos + 3] << 8;
        if (!validImageSize(x, y))
            return badAt(pos, "image " + std::to_string(i + 1) + " size " + std::to_string(x) + " x " +
                                  std::to_string(y) + " units (x must be 1..1023, y 1..288)");
        pos += 4;
        const std::size_t size = imageDataBytes(x, y);
        if (bytes.size() - pos < size) return badAt(pos, "image " + std::to_string(i + 1) + " data cut off");
        const auto data = bytes.subspan(pos, size);
        images.push_back(std::make_shared<const NvImage>(NvImage{x, y, {data.begin(), data.end()}}));
        pos += size;
    }
    if (pos != bytes.size()) return badAt(pos, std::to_string(bytes.size() - pos) + " bytes after the last image");
    return images;
}

std::vector<std::uint8_t> formatNvFile(const ImageList& images) {
    std::vector<std::uint8_t> out;
    if (images.empty()) return out;
    out.assign(kDefinitionStart, kDefinitionStart + 4);
    out.push_back(static_cast<std::uint8_t>(images.size()));
    for (const auto& image : images) {
        for (int v : {image->xUnits, image->yUnits}) {
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        out.insert(out.end(), image->data.begin(), image->data.end());
    }
    return out;
}

Result<ImageList> parseImageFile(std::span<const std::uint8_t> bytes) {
    // A `.bit` file starts with 1B, which is never hexadecimal text, so the two cannot be mistaken.
    if (auto text = parseHexText(bytes)) return parseNvFile(*text);
    return parseNvFile(bytes);
}

} // namespace tessera::vp
