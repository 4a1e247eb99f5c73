#include "printer/stream_check.h"

#include "printer/nv_graphics.h"
#include "printer/nv_image_encoder.h"

#include <algorithm>
#include <string>

namespace tessera {

namespace {

Error badAt(std::size_t offset, const std::string& what) {
    return badInput("at offset " + std::to_string(offset) + ": " + what);
}

// Reads a stream front to back; a reader asks whether the bytes are there before it takes them.
class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t offset() const { return at_; }
    std::size_t left() const { return bytes_.size() - at_; }
    std::uint8_t byte() { return bytes_[at_++]; }
    int le16() {
        const int v = bytes_[at_] | bytes_[at_ + 1] << 8;
        at_ += 2;
        return v;
    }
    void skip(std::size_t n) { at_ += n; }
    const std::uint8_t* peek() const { return bytes_.data() + at_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// The bit-image family after its lead (1B 40 1C 71): the count and the images.
Result<StreamSummary> readBitImages(Cursor& in) {
    if (in.left() < 1) return badAt(in.offset(), "the stream ends before the number of images");
    const std::size_t countAt = in.offset();
    const int count = in.byte();
    if (count == 0) return badAt(countAt, "a definition of 0 images");
    StreamSummary summary{StreamFamily::BitImage, count, 0, {}};
    for (int i = 1; i <= count; ++i) {
        const std::string image = "image " + std::to_string(i) + " of " + std::to_string(count);
        if (in.left() < 4) return badAt(in.offset() + in.left(), "the stream ends inside the size of " + image);
        const std::size_t sizeAt = in.offset();
        const int x = in.le16(), y = in.le16();
        if (x < 1 || x > kMaxNvWidthUnits || y < 1 || y > kMaxNvHeightUnits)
            return badAt(sizeAt, image + " has the size " + std::to_string(x) + " x " + std::to_string(y) +
                                     " units (x must be 1..1023, y 1..288)");
        const std::size_t data = 8 * static_cast<std::size_t>(x) * static_cast<std::size_t>(y);
        if (in.left() < data)
            return badAt(in.offset() + in.left(), "the stream ends inside the data of " + image + " (" +
                                                      std::to_string(data) + " bytes from offset " +
                                                      std::to_string(in.offset()) + ")");
        in.skip(data);
        summary.dataBytes += data;
    }
    if (in.left() > 0) return badAt(in.offset(), std::to_string(in.left()) + " more bytes after the last image");
    return summary;
}

// The graphics family after its lead (1B 40 1D): the delete-all command, if there, and the defines.
Result<StreamSummary> readGraphics(Cursor& in) {
    static constexpr std::uint8_t kDeleteAllRest[9] = {0x28, 0x4C, 0x05, 0x00, 0x30, 0x41, 0x43, 0x4C, 0x52};
    StreamSummary summary{StreamFamily::Graphics, 0, 0, {}};
    auto starts = [&](std::span<const std::uint8_t> bytes) {
        return in.left() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), in.peek());
    };
    if (starts(kDeleteAllRest)) {
        in.skip(sizeof kDeleteAllRest);
        if (in.left() == 0) return badAt(in.offset(), "the stream ends before the first define");
        if (in.byte() != 0x1D) return badAt(in.offset() - 1, "a define (1D 28 4C or 1D 38 4C) must follow");
    }
    // in stands after the 1D of a define.
    while (true) {
        const std::size_t at = in.offset() - 1;
        const std::string logo = "define " + std::to_string(summary.images + 1);
        if (in.left() < 2) return badAt(in.offset() + in.left(), "the stream ends inside the start of " + logo);
        const std::uint8_t kind = in.byte();
        if ((kind != 0x28 && kind != 0x38) || in.byte() != 0x4C)
            return badAt(at, logo + " is not 1D 28 4C or 1D 38 4C");
        const int countBytes = kind == 0x28 ? 2 : 4;
        if (in.left() < static_cast<std::size_t>(countBytes) + 11)
            return badAt(in.offset() + in.left(), "the stream ends inside the parameters of " + logo);
        std::uint64_t count = 0;
        for (int k = 0; k < countBytes; ++k)
            count |= static_cast<std::uint64_t>(in.byte()) << (8 * k);
        const std::size_t paramsAt = in.offset();
        const std::uint8_t fn[3] = {in.byte(), in.byte(), in.byte()};
        const std::string key{static_cast<char>(in.byte()), static_cast<char>(in.byte())};
        const std::uint8_t colours = in.byte();
        const int x = in.le16(), y = in.le16();
        const std::uint8_t colour = in.byte();
        if (fn[0] != 0x30 || fn[1] != 0x43 || fn[2] != 0x30 || colours != 0x01 || colour != 0x31)
            return badAt(paramsAt, logo + " is not a one-colour raster define (30 43 30 kc1 kc2 01 .. 31)");
        if (!validGraphicsKey(key)) return badAt(paramsAt + 3, logo + " has a key outside 20..7E");
        if (x < 1 || x > kMaxGraphicsWidth || y < 1 || y > kMaxGraphicsHeight)
            return badAt(paramsAt + 6, logo + " has the size " + std::to_string(x) + " x " + std::to_string(y) +
                                           " dots (x must be 1..8192, y 1..2304)");
        const std::size_t data = static_cast<std::size_t>((x + 7) / 8) * static_cast<std::size_t>(y);
        if (count != 11 + data)
            return badAt(paramsAt - countBytes, logo + " counts " + std::to_string(count) + " parameter bytes, its " +
                                                    std::to_string(x) + " x " + std::to_string(y) + " dots need " +
                                                    std::to_string(11 + data));
        if (in.left() < data)
            return badAt(in.offset() + in.left(), "the stream ends inside the data of " + logo + " (" +
                                                      std::to_string(data) + " bytes from offset " +
                                                      std::to_string(in.offset()) + ")");
        summary.defines.push_back({key, x, y, in.offset()});
        in.skip(data);
        ++summary.images;
        summary.dataBytes += data;
        if (in.left() == 0) return summary;
        if (in.byte() != 0x1D) return badAt(in.offset() - 1, "a define (1D 28 4C or 1D 38 4C) must follow");
    }
}

struct Family {
    std::span<const std::uint8_t> lead; // what every stream of the family begins with
    const char* start;                  // how the lead reads, for messages
    Result<StreamSummary> (*readAfterLead)(Cursor&);
};

constexpr std::uint8_t kBitImageLead[] = {0x1B, 0x40, 0x1C, 0x71};
constexpr std::uint8_t kGraphicsLead[] = {0x1B, 0x40, 0x1D};

const Family kFamilies[] = {
    {kBitImageLead, "1B 40 1C 71 (define NV bit images)", readBitImages},
    {kGraphicsLead, "1B 40 1D (NV graphics)", readGraphics},
};

} // namespace

Result<StreamSummary> checkSavedStream(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return badAt(0, "the stream is empty");
    // The family whose lead the bytes follow furthest; where even that one parts from them is the fault.
    std::size_t best = 0;
    const Family* closest = &kFamilies[0];
    for (const Family& f : kFamilies) {
        const std::size_t n = std::min(f.lead.size(), bytes.size());
        const std::size_t same = static_cast<std::size_t>(
            std::mismatch(f.lead.begin(), f.lead.begin() + n, bytes.begin()).first - f.lead.begin());
        if (same == f.lead.size()) {
            Cursor in(bytes);
            in.skip(same);
            return f.readAfterLead(in);
        }
        if (same > best) best = same, closest = &f;
    }
    if (best == bytes.size()) return badAt(best, std::string("the stream ends inside its start, ") + closest->start);
    std::string expected;
    for (const Family& f : kFamilies)
        expected += std::string(expected.empty() ? "" : " or ") + f.start;
    return badAt(best, "a stream starts with " + expected);
}

} // namespace tessera
