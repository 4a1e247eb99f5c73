#pragma once
// The NV images of the virtual printer and the `.bit` file that keeps them: 1B 40 1C 71 n, then per image
// xL xH yL yH and its 8 × x × y data bytes (the stream that `nvlogo save` writes). An empty file holds no
// images, which is how an erased printer is stored.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tessera::vp {

// One stored image: 8 × xUnits dot columns, left to right, each yUnits bytes from top to bottom, bit 7 of a
// byte the top dot.
struct NvImage {
    int xUnits = 0;
    int yUnits = 0;
    std::vector<std::uint8_t> data;

    int widthDots() const { return 8 * xUnits; }
    int heightDots() const { return 8 * yUnits; }
    bool dot(int column, int row) const { return data[column * yUnits + row / 8] & (0x80 >> (row % 8)); }
    // What the image costs in NV memory: its data and its 4 size bytes.
    std::size_t nvBytes() const { return data.size() + 4; }
};

// Images are shared, not copied, between the store, the prints of a page and a definition being replaced.
using ImageList = std::vector<std::shared_ptr<const NvImage>>;

// True when FS q accepts an image of x × y units (1..1023 × 1..288).
bool validImageSize(int xUnits, int yUnits);

inline std::size_t imageDataBytes(int xUnits, int yUnits) {
    return 8 * static_cast<std::size_t>(xUnits) * static_cast<std::size_t>(yUnits);
}

// Reads a `.bit` file. Anything but an empty file or exactly one complete definition is BadInput naming the
// offset.
Result<ImageList> parseNvFile(std::span<const std::uint8_t> bytes);

// The `.bit` file of the images; no bytes for none.
std::vector<std::uint8_t> formatNvFile(const ImageList& images);

// Reads a `.bit` or `.txt` file, told apart by content: text that parses as hexadecimal bytes is a `.txt`.
Result<ImageList> parseImageFile(std::span<const std::uint8_t> bytes);

} // namespace tessera::vp
