#pragma once
// Icon files (.ico): a directory of images, of which the one nearest to 32 × 32 is taken, as the desktop's
// picture loader takes its standard icon size. An entry is either a bitmap (a colour image followed by a
// 1-bit AND mask whose set bits are transparent; 32-bit entries carry their own alpha) or a PNG file.

#include "image/picture.h"

#include <cstdint>
#include <span>

namespace tessera {

struct IcoEntryInfo {
    int width = 0;  // as the directory says (0 there means 256)
    int height = 0;
    int bitCount = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
};

// The index of the entry chosen among the directory's entries: the smallest |w − 32| + |h − 32|, then the
// deepest colour, then the first.
std::size_t chooseIcoEntry(std::span<const IcoEntryInfo> entries);

Result<DecodedPicture> decodeIco(std::span<const std::uint8_t> file, const PictureLimits& limits = {});

} // namespace tessera
