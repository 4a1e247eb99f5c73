#include "image/flat_diffusion.h"

namespace tessera {

namespace {

std::uint8_t saturate(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The error of a cell, already divided into its shares of weight 1, 2, 4 and 8 of 42, by the cell's value.
struct Shares {
    int s1, s2, s4, s8;
};

struct ShareTable {
    Shares of[256];
    ShareTable() {
        for (int p = 0; p < 256; ++p) {
            const int e = p > 128 ? p - 255 : p;
            of[p] = {e / 42, 2 * e / 42, 4 * e / 42, 8 * e / 42};
        }
    }
};

const ShareTable kShares;

} // namespace

FlatDiffusion::FlatDiffusion(std::vector<std::uint8_t>& ring, int width) : width_(width) {
    ring.assign(static_cast<std::size_t>(width) * 8, 0);
    ring_ = ring.data();
}

void FlatDiffusion::spreadGeneric(int y, int x, std::uint8_t* white) {
    const int p = row(y)[x];
    const Shares& s = kShares.of[p];
    white[x] = p > 128;
    // In the order the shares are applied: in a plane narrower than 3 cells two shares of one cell can land
    // on the same target, and the saturation after each makes their order count.
    const int shares[12][3] = {
        {0, 1, s.s8},  {0, 2, s.s4},                                            //
        {1, -2, s.s2}, {1, -1, s.s4}, {1, 0, s.s8}, {1, 1, s.s4}, {1, 2, s.s2}, //
        {2, -2, s.s1}, {2, -1, s.s2}, {2, 0, s.s4}, {2, 1, s.s2}, {2, 2, s.s1},
    };
    for (const auto& [dy, dx, share] : shares) {
        const int col = x + dx;
        if (col < 0) continue;
        std::uint8_t& cell = row(y + dy + col / width_)[col % width_];
        cell = saturate(cell + share);
    }
}

void FlatDiffusion::diffuseRow(int y, std::uint8_t* white) {
    const int w = width_;
    if (w < 5) {
        for (int x = 0; x < w; ++x)
            spreadGeneric(y, x, white);
        return;
    }
    std::uint8_t* r0 = row(y);
    std::uint8_t* r1 = row(y + 1);
    std::uint8_t* r2 = row(y + 2);
    spreadGeneric(y, 0, white);
    spreadGeneric(y, 1, white);
    // Away from the edges no share wraps or is skipped. The next two cells of the row live in registers:
    // cur has all its shares, next all but the one from the cell being diffused.
    int cur = r0[2], next = r0[3];
    for (int x = 2; x < w - 2; ++x) {
        const int p = cur;
        const Shares& s = kShares.of[p];
        white[x] = p > 128;
        cur = saturate(next + s.s8);
        next = saturate(r0[x + 2] + s.s4);
        r1[x - 2] = saturate(r1[x - 2] + s.s2);
        r1[x - 1] = saturate(r1[x - 1] + s.s4);
        r1[x] = saturate(r1[x] + s.s8);
        r1[x + 1] = saturate(r1[x + 1] + s.s4);
        r1[x + 2] = saturate(r1[x + 2] + s.s2);
        r2[x - 2] = saturate(r2[x - 2] + s.s1);
        r2[x - 1] = saturate(r2[x - 1] + s.s2);
        r2[x] = saturate(r2[x] + s.s4);
        r2[x + 1] = saturate(r2[x + 1] + s.s2);
        r2[x + 2] = saturate(r2[x + 2] + s.s1);
    }
    r0[w - 2] = static_cast<std::uint8_t>(cur);
    r0[w - 1] = static_cast<std::uint8_t>(next);
    spreadGeneric(y, w - 2, white);
    spreadGeneric(y, w - 1, white);
}

} // namespace tessera
