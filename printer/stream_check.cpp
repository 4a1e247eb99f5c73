#include "printer/stream_check.h"

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
    StreamSummary summary{StreamFamily::BitImage, count, 0};
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

struct Family {
    std::span<const std::uint8_t> lead; // what every stream of the family begins with
    const char* start;                  // how the lead reads, for messages
    Result<StreamSummary> (*readAfterLead)(Cursor&);
};

constexpr std::uint8_t kBitImageLead[] = {0x1B, 0x40, 0x1C, 0x71};

const Family kFamilies[] = {
    {kBitImageLead, "1B 40 1C 71 (define NV bit images)", readBitImages},
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
