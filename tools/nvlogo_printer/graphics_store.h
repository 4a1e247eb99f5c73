#pragma once
// The virtual printer's NV graphics: logos stored under two-byte keys, each replaced, deleted and printed on
// its own, and the file that keeps them across restarts.
//
// The file is the stream that `nvlogo save --family graphics --keep` writes: 1B 40, then one define per key
// in key order (GS ( L, or GS 8 L when 11 + the data bytes exceed 65535), each
//   30 43 30 kc1 kc2 01 xL xH yL yH 31 and ceil(x / 8) × y data bytes, rows from the top, bit 7 leftmost.
// An empty file holds no keys. Each key takes its data bytes plus kGraphicsRecordBytes (16) of the capacity.

#include "base/result.h"
#include "printer/nv_graphics.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tessera::vp {

// One stored logo: width × height dots in rows from the top, each ceil(width / 8) bytes, bit 7 the leftmost
// dot.
struct GraphicsImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;

    std::size_t rowBytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
    bool dot(int x, int y) const {
        return rows[static_cast<std::size_t>(y) * rowBytes() + static_cast<std::size_t>(x / 8)] & (0x80 >> (x % 8));
    }
    std::uint64_t storeBytes() const { return rows.size() + kGraphicsRecordBytes; }
};

// The keys and their logos, keys in byte order. Logos are shared, not copied, between copies of the store and
// the prints of a page.
class GraphicsStore {
  public:
    using Entries = std::map<std::string, std::shared_ptr<const GraphicsImage>>;

    std::shared_ptr<const GraphicsImage> find(const std::string& key) const;
    std::vector<std::string> keys() const;
    std::uint64_t usedBytes() const { return used_; }
    const Entries& entries() const { return entries_; }
    // Adds the logo or replaces the key's; false, and nothing changed, when the store would then use more
    // than capacity bytes.
    bool define(const std::string& key, std::shared_ptr<const GraphicsImage> image, std::uint64_t capacity);
    // False when the key is not stored.
    bool remove(const std::string& key);
    void clear();

  private:
    Entries entries_;
    std::uint64_t used_ = 0;
};

// The store's file.
std::vector<std::uint8_t> formatGraphicsFile(const GraphicsStore& store);
// Reads a store's file, or any NV graphics stream that save writes (its delete all is taken, and a key
// defined twice keeps its last logo). Anything else is BadInput naming the offset.
Result<GraphicsStore> parseGraphicsFile(std::span<const std::uint8_t> bytes);

// The store's file beside the NV image file: its path with ".graphics" added.
std::string graphicsFileOf(const std::string& nvFile);

} // namespace tessera::vp
