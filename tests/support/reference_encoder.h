#pragma once
// A second, deliberately literal encoder for the files whose meaning needs no interpretation: bottom-up
// BI_RGB with a 40-byte info header (1-bit with a two-entry colour table, 24- and 32-bit without one). It
// reads fixed file offsets and works on fixed 900 × 650 planes, the way the printer's format was first
// defined, so that the product encoder is checked against an independent reading and not against itself.

#include <cstdint>
#include <vector>

namespace tessera::test {

struct ReferenceRaster {
    int xUnits = 0;
    int yUnits = 0;
    std::vector<std::uint8_t> raster;
};

// Encodes the file bytes; mode 0 threshold, 2 ordered dither, else error diffusion; level 0..10.
// Fails (returns an empty raster with xUnits 0) for files outside the supported kind.
ReferenceRaster referenceEncode(const std::vector<std::uint8_t>& file, int mode, int level);

} // namespace tessera::test
