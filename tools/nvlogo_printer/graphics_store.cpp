#include "tools/nvlogo_printer/graphics_store.h"

#include "base/byte_sink.h"
#include "printer/stream_check.h"

#include <limits>

namespace tessera::vp {

std::shared_ptr<const GraphicsImage> GraphicsStore::find(const std::string& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second;
}

std::vector<std::string> GraphicsStore::keys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const auto& entry : entries_)
        keys.push_back(entry.first);
    return keys;
}

bool GraphicsStore::define(const std::string& key, std::shared_ptr<const GraphicsImage> image, std::uint64_t capacity) {
    const auto old = find(key);
    const std::uint64_t used = used_ - (old ? old->storeBytes() : 0) + image->storeBytes();
    if (used > capacity) return false;
    entries_[key] = std::move(image);
    used_ = used;
    return true;
}

bool GraphicsStore::remove(const std::string& key) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    used_ -= it->second->storeBytes();
    entries_.erase(it);
    return true;
}

void GraphicsStore::clear() {
    entries_.clear();
    used_ = 0;
}

std::vector<std::uint8_t> formatGraphicsFile(const GraphicsStore& store) {
    if (store.entries().empty()) return {};
    // The logos are copied once into the define commands' writer; the file is small beside the capacity.
    std::vector<GraphicsLogo> logos;
    for (const auto& [key, image] : store.entries())
        logos.push_back({{}, key, image->width, image->height, image->rows, false});
    MemorySink sink;
    (void)writeGraphicsDefinitions(sink, logos, true); // a memory sink takes everything
    return std::move(sink.bytes);
}

Result<GraphicsStore> parseGraphicsFile(std::span<const std::uint8_t> bytes) {
    GraphicsStore store;
    if (bytes.empty()) return store;
    auto summary = checkSavedStream(bytes);
    if (!summary) return summary.error();
    if (summary->family != StreamFamily::Graphics) return badInput("at offset 0: NV bit images, not NV graphics");
    for (const GraphicsDefine& d : summary->defines) {
        auto image = std::make_shared<GraphicsImage>();
        image->width = d.width;
        image->height = d.height;
        const auto data = bytes.subspan(d.dataOffset, image->rowBytes() * static_cast<std::size_t>(d.height));
        image->rows.assign(data.begin(), data.end());
        store.define(d.key, std::move(image), std::numeric_limits<std::uint64_t>::max());
    }
    return store;
}

std::string graphicsFileOf(const std::string& nvFile) {
    return nvFile + ".graphics";
}

} // namespace tessera::vp
