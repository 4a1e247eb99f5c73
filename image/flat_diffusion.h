#pragma once
// The error diffusion that both the preview and the printer's encoder use: a Stucki kernel of divisor 42 on
// 8-bit cells, each share truncated toward zero and added with saturation to 0..255 at once, cells visited
// row by row, left to right. The cells form one flat plane whose row stride is the width, so a share past
// the right edge lands in the first columns of a following row; a share left of column 0 is skipped. Both
// pictures depend on these rules, wrap-around included.
//
// Only the rows that can still change are held: a ring of 8 rows (a share reaches at most 4 rows further,
// in a plane 1 cell wide), so the working memory is 8 × width bytes whatever the height.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessera {

class FlatDiffusion {
  public:
    // A plane of the given width (≥ 1). The ring is kept in `ring`, which a caller may reuse between
    // pictures to spare the allocation.
    FlatDiffusion(std::vector<std::uint8_t>& ring, int width);

    // The cells of row y. The caller fills rows 0 .. kRowsAhead − 1 first, then row y + kRowsAhead before
    // diffusing row y (it takes the place of row y − 4, which is finished). Rows past the picture must be
    // filled too (with anything: they only collect shares that are lost).
    std::uint8_t* row(int y) const {
        return ring_ + static_cast<std::size_t>(y & 7) * static_cast<std::size_t>(width_);
    }

    // Diffuses row y and writes, for every column, 1 where the cell came out white (above 128), else 0.
    void diffuseRow(int y, std::uint8_t* white);

    // A share of row y reaches at most row y + 4.
    static constexpr int kRowsAhead = 4;

  private:
    void spreadGeneric(int y, int x, std::uint8_t* white);

    std::uint8_t* ring_ = nullptr;
    int width_;
};

} // namespace tessera
