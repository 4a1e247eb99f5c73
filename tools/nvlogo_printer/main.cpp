// nvlogo-printer: a virtual receipt printer with NV bit-image memory, for tests and for trying Tessera
// without hardware; and `decode`, which draws the images of a `.bit` or `.txt` file.

#include "base/file_io.h"
#include "tools/nvlogo_printer/server.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>

namespace tessera::vp {
namespace {

int decodeFile(const std::string& path, const std::string& outDir) {
    auto bytes = readWholeFile(path, std::size_t{1} << 30);
    auto images = bytes ? parseImageFile(*bytes) : Result<ImageList>(bytes.error());
    if (!images) {
        const std::string& message = images.error().message;
        std::cerr << "nvlogo-printer: " << (message.rfind(path, 0) == 0 ? "" : path + ": ") << message << '\n';
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::cerr << "nvlogo-printer: " << outDir << ": " << ec.message() << '\n';
        return 1;
    }
    int number = 0;
    for (const auto& image : *images) {
        char name[32];
        std::snprintf(name, sizeof name, "image-%03d.png", ++number);
        const Bitmap bitmap = renderPage(std::vector<Print>{{image, 1, 1}}, 0);
        auto png = encodePng(bitmap);
        Status s = png ? writeFileAtomically((std::filesystem::path(outDir) / name).string(), *png) : png.error();
        if (!s) {
            std::cerr << "nvlogo-printer: " << s.error().message << '\n';
            return 1;
        }
        std::cout << name << ": " << bitmap.width << " x " << bitmap.height << " dots\n";
    }
    return 0;
}

} // namespace
} // namespace tessera::vp

int main(int argc, char** argv) {
    using namespace tessera::vp;
    CLI::App app{"nvlogo-printer: a virtual receipt printer that keeps NV images in a file and prints to PNG"};
    app.name("nvlogo-printer");
    app.footer("Exit status: 0 stopped by SIGTERM/SIGINT or decoded; 1 a socket, directory or file write failed;\n"
               "2 bad options or a malformed file.");
    ServerOptions o;
    std::uint64_t closeAfter = 0, stallAfter = 0;
    app.add_option("--listen", o.listen, "HOST:PORT to serve, HOST in 127.0.0.0/8; port 0 takes a free one");
    app.add_option("--nv", o.nvFile, "The .bit file that holds the NV images (missing: none)");
    app.add_option("--out", o.outDir, "Directory for the printouts, print-NNNN.png");
    app.add_option("--paper-dots", o.printer.paperDots, "Paper width in dots")
        ->check(CLI::Range(8, 65535))
        ->capture_default_str();
    app.add_option("--capacity", o.printer.capacity, "NV memory in bytes; each image takes its data plus 4")
        ->capture_default_str();
    const std::map<std::string, PrinterModel> models = {{"both", PrinterModel::Both},
                                                        {"bit-image", PrinterModel::BitImage},
                                                        {"graphics", PrinterModel::Graphics},
                                                        {"mute", PrinterModel::Mute}};
    app.add_option("--model", o.printer.model,
                   "What it understands: both (NV bit images and NV graphics queries), bit-image, graphics, or "
                   "mute (takes both, answers nothing)")
        ->transform(CLI::CheckedTransformer(models))
        ->option_text("both|bit-image|graphics|mute")
        ->default_str("both");
    const std::map<std::string, PaperState> papers = {
        {"ok", PaperState::Ok}, {"near-end", PaperState::NearEnd}, {"end", PaperState::End}};
    app.add_option("--paper", o.printer.paper, "What its status answers say of the paper; at the end nothing prints")
        ->transform(CLI::CheckedTransformer(papers))
        ->option_text("ok|near-end|end")
        ->default_str("ok");
    const std::map<std::string, bool> covers = {{"closed", false}, {"open", true}};
    app.add_option("--cover", o.printer.coverOpen, "Whether its cover is open; while it is, nothing prints")
        ->transform(CLI::CheckedTransformer(covers))
        ->option_text("closed|open")
        ->default_str("closed");
    app.add_option("--graphics-capacity", o.printer.graphicsCapacity,
                   "NV graphics memory in bytes, for the capacity answers")
        ->capture_default_str();
    auto* closeOpt = app.add_option("--close-after", closeAfter, "Reset each connection after receiving BYTES");
    auto* stallOpt =
        app.add_option("--stall-after", stallAfter, "Stop reading, and so answering, each connection after BYTES");
    app.add_flag("--refuse", o.refuse, "Accept every connection and reset it at once");
    CLI::App* decode = app.add_subcommand("decode", "Write image-001.png etc. for the images of a .bit or .txt file");
    std::string decodePath, decodeOut;
    decode->add_option("file", decodePath, "The .bit or .txt file")->required();
    decode->add_option("--out", decodeOut, "Directory for the PNG files")->required();
    app.require_subcommand(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // CLI11 has its own exit numbers and multi-line messages; every usage error is one line and status 2.
        std::string message = e.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << "nvlogo-printer: " << message << " (see --help)" << std::endl;
        return 2;
    }
    if (*decode) return decodeFile(decodePath, decodeOut);
    if (o.listen.empty() || o.nvFile.empty() || o.outDir.empty()) {
        std::cerr << "nvlogo-printer: --listen, --nv and --out are required (see --help)" << std::endl;
        return 2;
    }
    o.printer.firmware = TESSERA_VERSION;
    if (closeOpt->count()) o.closeAfter = closeAfter;
    if (stallOpt->count()) o.stallAfter = stallAfter;
    return runServer(o, std::cout, std::cerr);
}
