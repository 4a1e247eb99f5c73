#include "tools/nvlogo_printer/disk_host.h"

#include "base/file_io.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace tessera::vp {

namespace fs = std::filesystem;

Status NvStore::load(std::size_t capacity) {
    std::error_code ec;
    if (!fs::exists(path_, ec)) return define({});
    // Anything the printer could hold fits in the capacity plus the 5 bytes that start the definition.
    auto bytes = readWholeFile(path_, std::min(capacity, SIZE_MAX - 5) + 5);
    if (!bytes) return bytes.error();
    auto images = parseNvFile(*bytes);
    if (!images) return withContext(path_, images.error());
    std::size_t used = 0;
    for (const auto& image : *images)
        used += image->nvBytes();
    if (used > capacity)
        return badInput(path_ + ": the images take " + std::to_string(used) + " bytes, the capacity is " +
                        std::to_string(capacity));
    // The same bytes again: a parsed file is formatted exactly as it was.
    return define(std::move(*images));
}

Status NvStore::define(ImageList images) {
    std::lock_guard lock(mutex_);
    if (Status s = writeFileAtomically(path_, formatNvFile(images)); !s) return s;
    images_ = std::move(images);
    return {};
}

Status NvStore::erase() {
    return define({});
}

std::shared_ptr<const NvImage> NvStore::image(int number) const {
    std::lock_guard lock(mutex_);
    if (number < 1 || static_cast<std::size_t>(number) > images_.size()) return nullptr;
    return images_[static_cast<std::size_t>(number) - 1];
}

std::size_t NvStore::count() const {
    std::lock_guard lock(mutex_);
    return images_.size();
}

Status GraphicsFile::load(std::uint64_t capacity) {
    std::error_code ec;
    if (!fs::exists(path_, ec)) return change([](GraphicsStore&) { return Status{}; });
    // A key takes at least 17 bytes of the capacity for at most 1 + 7 + 11 bytes of its define: a file that
    // fits is never more than twice the capacity and the 2 bytes of ESC @.
    const std::uint64_t limit = std::min<std::uint64_t>(capacity, SIZE_MAX / 4) * 2 + 2;
    auto bytes = readWholeFile(path_, static_cast<std::size_t>(limit));
    if (!bytes) return bytes.error();
    auto store = parseGraphicsFile(*bytes);
    if (!store) return withContext(path_, store.error());
    if (store->usedBytes() > capacity)
        return badInput(path_ + ": the NV graphics take " + std::to_string(store->usedBytes()) +
                        " bytes, the graphics capacity is " + std::to_string(capacity));
    return change([&](GraphicsStore& s) {
        s = std::move(*store);
        return Status{};
    });
}

std::shared_ptr<const GraphicsStore> GraphicsFile::snapshot() const {
    std::lock_guard lock(mutex_);
    return store_;
}

Status GraphicsFile::change(const std::function<Status(GraphicsStore&)>& change) {
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<GraphicsStore>(*store_);
    if (Status s = change(*next); !s) return s;
    if (Status s = writeFileAtomically(path_, formatGraphicsFile(*next)); !s) return s;
    store_ = std::move(next);
    return {};
}

Status PrintDirectory::open() {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) return ioError(dir_ + ": " + ec.message());
    int highest = 0;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string digits = name.size() > 10 ? name.substr(6, name.size() - 10) : "";
        if (name.rfind("print-", 0) != 0 || !name.ends_with(".png") || digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        highest = std::max(highest, std::stoi(digits));
    }
    if (ec) return ioError(dir_ + ": " + ec.message());
    next_ = highest + 1;
    return {};
}

Result<std::string> PrintDirectory::write(const Bitmap& page) {
    auto png = encodePng(page);
    if (!png) return png.error();
    char name[32];
    std::snprintf(name, sizeof name, "print-%04d.png", next_++);
    if (Status s = writeFileAtomically((fs::path(dir_) / name).string(), *png); !s) return s.error();
    return std::string(name);
}

void LineLog::always(const std::string& text) {
    std::lock_guard lock(mutex_);
    out_ << text << std::endl;
}

void DiskHost::cutPage(const Bitmap& page) {
    auto name = prints_.write(page);
    if (!name) return error("print error: " + name.error().message);
    log("wrote " + *name + " (" + std::to_string(page.width) + " x " + std::to_string(page.height) + " dots)");
}

} // namespace tessera::vp
