// nvlogo-printer: a virtual receipt printer with NV bit-image memory, for tests and for trying Tessera
// without hardware; and `decode`, which draws the images of a `.bit` or `.txt` file.

#include "base/file_io.h"
#include "cli/usage.h"
#include "printer/logo_files.h"
#include "tools/nvlogo_printer/server.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace tessera::vp {
namespace {

namespace fs = std::filesystem;

// The image-*.png and key-*.png files a folder holds already, in order; none when it is missing.
std::vector<std::string> earlierImages(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool ours =
            (name.rfind("image-", 0) == 0 && name.size() > 10) || (name.rfind("key-", 0) == 0 && name.size() > 8);
        if (ours && name.ends_with(".png")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The pictures a .bit or .txt file holds: image-001.png etc. for NV bit images, key-HHHH.png (the key's
// bytes in hexadecimal, as a key may hold / or :) for NV graphics.
Result<std::vector<std::pair<std::string, Bitmap>>> picturesOf(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> bytes = file;
    if (auto text = tessera::parseHexText(file)) bytes = std::move(*text);
    std::vector<std::pair<std::string, Bitmap>> pictures;
    // Two bytes decide the family: FS q images start 1B 40 1C, NV graphics 1B 40 1D.
    if (bytes.size() >= 3 && bytes[0] == 0x1B && bytes[1] == 0x40 && bytes[2] == 0x1D) {
        auto store = parseGraphicsFile(bytes);
        if (!store) return store.error();
        for (const auto& [key, graphic] : store->entries())
            pictures.emplace_back("key-" + tessera::graphicsKeyHex(key) + ".png",
                                  renderPage(std::vector<Print>{{nullptr, 1, 1, graphic}}, 0));
        return pictures;
    }
    auto images = parseNvFile(bytes);
    if (!images) return images.error();
    int number = 0;
    for (const auto& image : *images) {
        char name[32];
        std::snprintf(name, sizeof name, "image-%03d.png", ++number);
        pictures.emplace_back(name, renderPage(std::vector<Print>{{image, 1, 1, nullptr}}, 0));
    }
    return pictures;
}

int decodeFile(const std::string& path, const std::string& outDir, bool force) {
    auto bytes = readWholeFile(path, std::size_t{1} << 30);
    auto images = bytes ? picturesOf(*bytes) : Result<std::vector<std::pair<std::string, Bitmap>>>(bytes.error());
    if (!images) {
        const std::string& message = images.error().message;
        std::cerr << "nvlogo-printer: " << (message.rfind(path, 0) == 0 ? "" : path + ": ") << message << '\n';
        return 2;
    }
    // Images of an earlier file beside the new ones would pass for part of it.
    if (const auto earlier = earlierImages(outDir); !earlier.empty() && !force) {
        std::string names = earlier.front();
        if (earlier.size() > 1) names += (earlier.size() > 2 ? " ... " : ", ") + earlier.back();
        std::cerr << "nvlogo-printer: " << outDir << " holds images already (" << names
                  << "); choose another --out or give --force to write over them\n";
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::cerr << "nvlogo-printer: " << outDir << ": " << ec.message() << '\n';
        return 1;
    }
    for (const auto& [name, bitmap] : *images) {
        auto png = encodePng(bitmap);
        const std::string file = (fs::path(outDir) / name).string();
        Status s = png ? writeFileAtomically(file, *png) : png.error();
        if (!s) {
            std::cerr << "nvlogo-printer: " << s.error().message << '\n';
            return 1;
        }
        std::cout << "wrote " << file << " (" << bitmap.width << " x " << bitmap.height << " dots)\n";
    }
    return 0;
}

} // namespace
} // namespace tessera::vp

int main(int argc, char** argv) {
    using namespace tessera::vp;
    CLI::App app{"nvlogo-printer: a virtual receipt printer that keeps NV images in a file and prints to PNG"};
    app.name("nvlogo-printer");
    tessera::cli::usePlainHelp(app);
    app.set_version_flag("--version", "nvlogo-printer " TESSERA_VERSION);
    app.footer("Exit status: 0 stopped by SIGTERM/SIGINT, or decoded; 1 the address cannot be served, or a\n"
               "directory or file cannot be written (--nv, --out, --ready-file); 2 bad options, a malformed file,\n"
               "or a decode into a folder that holds images already.");
    ServerOptions o;
    std::uint64_t closeAfter = 0, stallAfter = 0;
    using tessera::cli::integerIn;
    app.add_option("--listen", o.listen,
                   "Where to serve, HOST:PORT or tcp:HOST:PORT as nvlogo takes a printer's: HOST an address in "
                   "127.0.0.0/8 or a name for one (localhost); port 0 takes a free one")
        ->option_text("HOST:PORT");
    app.add_option("--nv", o.nvFile,
                   "The .bit file that holds the NV images (missing: none); the NV graphics are kept beside it in "
                   "FILE.graphics, the stream that nvlogo save --family graphics --keep writes; both must be "
                   "writable, or the printer does not start")
        ->option_text("FILE");
    app.add_option("--out", o.outDir, "Directory for the printouts, print-NNNN.png")->option_text("DIR");
    app.add_option("--ready-file", o.readyFile,
                   "Once it listens, write HOST:PORT and a newline to FILE, whole or not at all; removed when it "
                   "stops")
        ->option_text("FILE");
    app.add_flag("--quiet", o.quiet, "Log only errors and the listening line");
    app.add_option("--idle-timeout", o.idleTimeout,
                   "Close a connection that sends nothing for SECONDS, 0 to 86400, 0 never (default " +
                       std::to_string(o.idleTimeout) + ")")
        ->check(integerIn(0, 86400))
        ->option_text("SECONDS");
    app.add_option("--paper-dots", o.printer.paperDots,
                   "Paper width in dots, 8 to 65535 (default " + std::to_string(o.printer.paperDots) +
                       "); what is wider is cut off at the right edge")
        ->check(integerIn(8, 65535))
        ->option_text("DOTS");
    app.add_option("--capacity", o.printer.capacity,
                   "NV memory in bytes, 0 to 1073741824; each image takes its data plus 4 (default " +
                       std::to_string(o.printer.capacity) + ")")
        ->check(integerIn(0, 1073741824))
        ->option_text("BYTES");
    app.add_option("--model", o.printer.model,
                   "What it understands: both (NV bit images and NV graphics, kept apart; the default), bit-image "
                   "(NV graphics skipped), graphics (NV bit images skipped), or mute (takes both, answers nothing)")
        ->transform(tessera::cli::oneOfWords({{"both", static_cast<long long>(PrinterModel::Both)},
                                              {"bit-image", static_cast<long long>(PrinterModel::BitImage)},
                                              {"graphics", static_cast<long long>(PrinterModel::Graphics)},
                                              {"mute", static_cast<long long>(PrinterModel::Mute)}}))
        ->option_text("both|bit-image|graphics|mute");
    app.add_option("--paper", o.printer.paper,
                   "What its status answers say of the paper: ok (default), near-end or end; at the end nothing "
                   "prints")
        ->transform(tessera::cli::oneOfWords({{"ok", static_cast<long long>(PaperState::Ok)},
                                              {"near-end", static_cast<long long>(PaperState::NearEnd)},
                                              {"end", static_cast<long long>(PaperState::End)}}))
        ->option_text("ok|near-end|end");
    app.add_option("--cover", o.printer.coverOpen,
                   "Its cover: closed (default) or open; while it is open nothing prints")
        ->transform(tessera::cli::oneOfWords({{"closed", 0}, {"open", 1}}))
        ->option_text("closed|open");
    app.add_option("--graphics-capacity", o.printer.graphicsCapacity,
                   "NV graphics memory in bytes, 0 to 4294967295; each key takes its data plus 16 (default " +
                       std::to_string(o.printer.graphicsCapacity) + ")")
        ->check(integerIn(0, 4294967295))
        ->option_text("BYTES");
    auto* closeOpt = app.add_option("--close-after", closeAfter, "Reset each connection after receiving BYTES")
                         ->check(integerIn(0, 4294967295))
                         ->option_text("BYTES");
    auto* stallOpt =
        app.add_option("--stall-after", stallAfter, "Stop reading, and so answering, each connection after BYTES")
            ->check(integerIn(0, 4294967295))
            ->option_text("BYTES");
    app.add_flag("--refuse", o.refuse, "Accept every connection and reset it at once");
    CLI::App* decode = app.add_subcommand(
        "decode", "Write image-001.png etc. for the NV bit images of a .bit or .txt file, or key-HHHH.png (HHHH the "
                  "key's bytes in hexadecimal) for its NV graphics, as wide as they are");
    std::string decodePath, decodeOut;
    bool force = false;
    decode->add_option("FILE", decodePath, "The .bit or .txt file")->required();
    decode->add_option("--out", decodeOut, "Directory for the PNG files (required)")->option_text("DIR")->required();
    decode->add_flag("--force", force, "Write even when DIR holds image-*.png files already");
    app.require_subcommand(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // The parser has its own exit numbers; every usage error is one line and status 2.
        std::cerr << "nvlogo-printer: " << tessera::cli::usageMessage(e, app) << " (see --help)" << std::endl;
        return 2;
    }
    if (*decode) return decodeFile(decodePath, decodeOut, force);
    if (o.listen.empty() || o.nvFile.empty() || o.outDir.empty()) {
        std::cerr << "nvlogo-printer: --listen, --nv and --out are required (see --help)" << std::endl;
        return 2;
    }
    o.printer.firmware = TESSERA_VERSION;
    if (closeOpt->count()) o.closeAfter = closeAfter;
    if (stallOpt->count()) o.stallAfter = stallAfter;
    return runServer(o, std::cout, std::cerr);
}
