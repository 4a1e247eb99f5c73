#pragma once
// The virtual printer's storage and paper, kept in memory, for the interpreter's tests.

#include "tools/nvlogo_printer/virtual_printer.h"

#include <string>
#include <vector>

namespace tessera::vp {

struct FakeHost : PrinterHost {
    ImageList stored;
    std::vector<Bitmap> pages;
    std::vector<std::string> lines, errors; // errors are in lines too
    std::vector<std::string> keys;          // when not empty, the key list reported instead of the store's
    bool failWrites = false;

    Status defineImages(ImageList images) override {
        if (failWrites) return ioError("disk full");
        stored = std::move(images);
        return {};
    }
    Status eraseImages() override { return defineImages({}); }
    std::shared_ptr<const NvImage> image(int n) override {
        return n >= 1 && n <= int(stored.size()) ? stored[n - 1] : nullptr;
    }
    void cutPage(const Bitmap& page) override { pages.push_back(page); }
    void log(const std::string& line) override { lines.push_back(line); }
    void error(const std::string& line) override {
        errors.push_back(line);
        log(line);
    }
    std::vector<std::string> graphicsKeys() override { return keys.empty() ? PrinterHost::graphicsKeys() : keys; }
    bool logged(const std::string& start) const {
        for (const auto& l : lines)
            if (l.rfind(start, 0) == 0) return true;
        return false;
    }
};

inline std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace tessera::vp
