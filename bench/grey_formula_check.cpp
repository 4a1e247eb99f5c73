// Proves that the encoder's table form of the grey formula gives the same value as the formula written out,
// for every (R′, G′, B′): 2^24 cases, too many for the unit tests' every run. Exits 0 when all agree.
// Run: build/linux/bench/grey_formula_check (ctest runs it under the label "slow").

#include "printer/nv_image_encoder.h"

#include <cstdio>

int main() {
    using tessera::GreyFormula;
    // With offset 0 the tables take the channels as they are, so this covers every (R′, G′, B′); the other
    // offsets only change which channel value a table entry is computed from.
    const GreyFormula grey(0);
    long mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if (grey(static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r)) !=
                    tessera::literalGrey(b, g, r)) {
                    if (mismatches++ < 5) std::printf("differs at R' %d G' %d B' %d\n", r, g, b);
                }
    for (int offset : {-50, 75})
        for (int c = 0; c < 256; ++c) {
            const int v = c + offset < 0 ? 0 : c + offset > 255 ? 255 : c + offset;
            const auto u = static_cast<std::uint8_t>(c);
            if (GreyFormula(offset)(u, u, u) != tessera::literalGrey(v, v, v)) ++mismatches;
        }
    std::printf("grey formula: %ld of 16777216 values differ\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
