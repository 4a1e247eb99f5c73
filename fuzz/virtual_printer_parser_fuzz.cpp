// The virtual printer's command interpreter on arbitrary bytes, split at arbitrary points: the first byte
// picks the model, paper and cover, the rest is the stream. Splitting must change
// nothing, so every run is compared with a run on the whole stream; storage and paper are kept in memory with
// a small capacity.

#include "tools/nvlogo_printer/virtual_printer.h"

#include <cstdlib>

namespace {

using namespace tessera::vp;

// Narrow paper and short pages: the pixels of a page cost far more than the commands that print it.
const PrinterConfig kConfig{.capacity = 4096, .paperDots = 16, .maxPagePixels = 1 << 13, .graphicsCapacity = 4096};

PrinterConfig configOf(std::uint8_t b) {
    PrinterConfig c = kConfig;
    c.model = static_cast<PrinterModel>(b & 3);
    c.paper = static_cast<PaperState>((b >> 2) % 3);
    c.coverOpen = b & 0x10;
    return c;
}

void check(bool ok) {
    if (!ok) std::abort();
}

struct MemoryHost : PrinterHost {
    ImageList stored;
    std::vector<std::uint64_t> lines; // a digest of each
    std::vector<std::uint64_t> pages; // width, height and a digest of each page

    tessera::Status defineImages(ImageList images) override {
        std::size_t used = 0;
        for (const auto& image : images) {
            check(validImageSize(image->xUnits, image->yUnits));
            check(image->data.size() == imageDataBytes(image->xUnits, image->yUnits));
            used += image->nvBytes();
        }
        check(!images.empty() && images.size() <= 255 && used <= kConfig.capacity);
        stored = std::move(images);
        return {};
    }
    tessera::Status eraseImages() override {
        stored.clear();
        return {};
    }
    std::shared_ptr<const NvImage> image(int n) override {
        return n >= 1 && n <= static_cast<int>(stored.size()) ? stored[static_cast<std::size_t>(n) - 1] : nullptr;
    }
    void cutPage(const Bitmap& page) override {
        check(page.width == kConfig.paperDots && page.height > 0); // cut off at the paper's edge
        check(page.grey.size() == static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height));
        std::uint64_t digest = 14695981039346656037u;
        for (std::uint8_t g : page.grey) {
            check(g == 0 || g == 255);
            digest = (digest ^ g) * 1099511628211u;
        }
        pages.insert(pages.end(),
                     {static_cast<std::uint64_t>(page.width), static_cast<std::uint64_t>(page.height), digest});
    }
    void log(const std::string& line) override {
        std::uint64_t digest = 14695981039346656037u;
        for (char c : line)
            digest = (digest ^ static_cast<std::uint8_t>(c)) * 1099511628211u;
        lines.push_back(digest);
    }
};

struct Outcome {
    std::vector<std::uint64_t> lines;
    std::vector<std::uint8_t> replies;
    std::vector<std::uint8_t> nv;
    std::vector<std::uint8_t> graphics;
    std::vector<std::uint64_t> pages;
    bool operator==(const Outcome&) const = default;
};

Outcome run(std::span<const std::uint8_t> stream, unsigned seed, const PrinterConfig& config) {
    MemoryHost host;
    VirtualPrinter printer(host, config);
    Outcome o;
    std::uint32_t lcg = seed;
    while (!stream.empty()) {
        lcg = lcg * 1103515245u + 12345u;
        const std::size_t piece =
            seed == 0 ? stream.size() : std::min<std::size_t>(stream.size(), 1 + (lcg >> 16) % (seed + 1));
        const auto reply = printer.feed(stream.first(piece));
        check(reply.empty() || config.model != PrinterModel::Mute);
        o.replies.insert(o.replies.end(), reply.begin(), reply.end());
        stream = stream.subspan(piece);
    }
    printer.finish();
    o.lines = std::move(host.lines);
    o.nv = formatNvFile(host.stored);
    const auto graphics = host.graphics();
    check(graphics->usedBytes() <= config.graphicsCapacity);
    o.graphics = formatGraphicsFile(*graphics);
    // The store's file reads back as the same store.
    const auto again = parseGraphicsFile(o.graphics);
    check(again && again->keys() == graphics->keys() && again->usedBytes() == graphics->usedBytes());
    o.pages = std::move(host.pages);
    return o;
}

} // namespace

// Longer inputs add no command the short ones lack (a define of a few dots shows what one of thousands
// does), and each byte costs two runs' worth of work.
constexpr std::size_t kMaxInput = 160;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInput) return 0;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    const PrinterConfig config = configOf(data[0]);
    const Outcome whole = run(stream, 0, config);
    // Pieces of one to four bytes: nearly every command boundary split, and data taken in several pieces.
    check(run(stream, 3, config) == whole);
    return 0;
}
