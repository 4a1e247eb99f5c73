// nvlogo run in process: what each command writes (preview: the depth that chooses the filter and the
// encoder's raster), and the exit status of every kind of failure.

#include "cli/nvlogo.h"

#include "base/file_io.h"
#include "base/json_writer.h"
#include "printer/nv_image_encoder.h"
#include "printer/nv_upload_ctrl.h"
#include "support/bmp_writer.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace tessera {
namespace {

using test::example;
using test::freshDir;
using test::holds;
using test::nvlogo;
using test::Outcome;
using test::slurp;
using test::slurpText;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST(NvlogoSave, WritesWhatSaveLogoFileWrites) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp"), example("line-drawing.bmp")};
    const std::string dir = freshDir("save");
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    // Options are case-insensitive words with long forms; "-" is the standard output.
    const struct {
        std::vector<std::string> options;
        int mode, level;
        SaveFormat format;
        std::string out;
    } cases[] = {
        {{"-H", "threshold", "-b", "0", "-f", "hex"}, Threshold, 0, HEX, dir + "/out"},
        {{"-H", "error-diffusion", "-b", "5", "-f", "bin"}, ErrorDiffusion, 5, BIN, dir + "/out"},
        {{"--halftone", "Indexed-Order", "--brightness", "10", "--format", "HEX"}, IndexedOrder, 10, HEX, dir + "/out"},
        {{}, Threshold, 5, BIN, "-"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"save", "--output", c.out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), logos.begin(), logos.end());
        Outcome r = nvlogo(args);
        ASSERT_EQ(r.status, 0) << r.err;
        // The badge is drawn on white, so the mode and level do not apply to it.
        EXPECT_EQ(r.err, "nvlogo: " + logos[1] + ": half-toning not used: the bottom-left pixel is white\n");
        ASSERT_EQ(ctrl.saveLogoFile(dir + "/ref", logos, c.mode, c.level, c.format), 0);
        EXPECT_EQ(c.out == "-" ? Bytes(r.out.begin(), r.out.end()) : slurp(c.out), slurp(dir + "/ref")) << c.level;
    }
    EXPECT_FALSE(fs::exists(dir + "/out.bit")) << "the name is used as given: no extension is added";
}

TEST(NvlogoSave, BadInputIsStatus2WithOneLineAndNoFile) {
    const std::string dir = freshDir("bad");
    const std::string out = dir + "/x.bit", badge = example("badge.bmp");
    const std::string broken = test::writeTempFile("cli-broken.bmp", {'B', 'M', 9});
    const struct {
        std::vector<std::string> args;
        const char* says = "";
    } cases[] = {
        {{"save", badge}},     // no -o
        {{"save", "-o", out}}, // no logo
        {{"save", "-H", "bogus", "-o", out, badge},
         "--halftone: bogus is not one of threshold, error-diffusion or indexed-order"},
        {{"save", "-b", "11", "-o", out, badge}},
        {{"save", "-b", "x", "-o", out, badge}},
        {{"save", "-f", "png", "-o", out, badge}},
        {{"save", "--frobnicate", "-o", out, badge}},
        {{"save", "-o", out, broken}},                      // undecodable
        {{"save", "-o", out, badge, dir + "/missing.bmp"}}, // unreadable
        {{"save", "-o", "", badge}},
        {{"save", "-o", dir + "/in.bmp", dir + "/in.bmp"}}, // the input (through links: the file_io tests)
        {{"preview", "-o", out, badge}},                    // neither .png nor .pgm
        {{"launch"}, "unknown command launch (the commands are save, info,"},
        {{}},
        {{"upload", "--capacity", "abc", "-p", "tcp:x", badge}, "--capacity: abc is not a whole number from 1 to"},
        {{"--versio"}, "unknown option --versio"},
        {{"info", "-dash.bmp"},
         "unknown option -dash.bmp; -- ends the options, so a file name that begins with - goes after it"},
        {{"save", "-o", "a", "-o", "b", badge}, "--output is given more than once"},
        {{"save", badge, "-o"}, "--output needs a value"},
        {{"printers", "extra"}, "unexpected argument extra"},
        {{"print", "--range", "5-2", "-p", "tcp:x"}, "--range '5-2': 5-2 runs backwards"},
    };
    fs::copy_file(badge, dir + "/in.bmp");
    for (const auto& c : cases) {
        Outcome r = nvlogo(c.args);
        EXPECT_EQ(r.status, 2) << (c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind(std::string("nvlogo: ") + c.says, 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
    std::vector<std::string> tooMany = {"save", "-o", out};
    tooMany.insert(tooMany.end(), 256, example("line-drawing.bmp"));
    EXPECT_EQ(nvlogo(tooMany).status, 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(nvlogo({"save", "-o", dir + "/no/dir/x.bit", example("line-drawing.bmp")}).status, 1);
    EXPECT_EQ(slurp(dir + "/in.bmp"), slurp(badge));
}

TEST(NvlogoInfo, DescribesEachLogo) {
    Outcome r = nvlogo({"info", example("shop-logo.bmp"), example("badge.bmp"), example("line-drawing.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(holds(r.out, "shop-logo.bmp: 576 x 160 pixels, 24 bits per pixel, NV size 11520 bytes, fits"));
    EXPECT_TRUE(holds(r.out, "badge.bmp: 96 x 96 pixels, 8 bits per pixel, NV size 1152 bytes, fits"));
    EXPECT_TRUE(holds(r.out, "line-drawing.bmp: 200 x 120 pixels, 1 bit per pixel, NV size 3000 bytes, fits"));

    const std::string big = test::writeTempFile("cli-big.bmp", test::writeBmp(test::Picture(8200, 8), {.bitCount = 1}));
    Outcome b = nvlogo({"info", big, freshDir("info") + "/missing.bmp"});
    EXPECT_EQ(b.status, 2);
    EXPECT_TRUE(holds(b.out, "too large"));
    EXPECT_EQ(lines(b.err), 1);

    // PNG logos as save takes them (24 bits), as JSON; a list too large for one upload draws warnings only.
    const std::string png = freshDir("info") + "/badge.png";
    ASSERT_EQ(nvlogo({"preview", "-o", png, example("badge.bmp")}).status, 0);
    Outcome j = nvlogo({"info", "--json", png});
    EXPECT_EQ(j.out,
              "[{\"file\": " + json::quote(png) +
                  ", \"width\": 96, \"height\": 96, \"bits_per_pixel\": 24, \"nv_bytes\": 1152, \"fits\": true, "
                  "\"graphics_bytes\": 1168, \"graphics_fits\": true}]\n");
    std::vector<std::string> many = {"info"};
    many.insert(many.end(), 256, example("line-drawing.bmp"));
    Outcome w = nvlogo(many);
    EXPECT_EQ(w.status, 0);
    EXPECT_TRUE(holds(w.err, "warning: the logos need 769024 bytes"));
    EXPECT_TRUE(holds(w.err, "warning: 256 logos, more than the 255"));
}

TEST(Nvlogo, HelpAndVersion) {
    Outcome v = nvlogo({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_TRUE(holds(v.out, "nvlogo "));
    for (const char* command : {"", "save", "info", "upload", "erase", "print", "send", "preview", "printers"}) {
        Outcome h = nvlogo(*command ? std::vector<std::string>{command, "--help"} : std::vector<std::string>{"--help"});
        EXPECT_EQ(h.status, 0);
        EXPECT_TRUE(holds(h.out, "Exit status"));
        for (const char* label : {" TEXT", "INT", "REQUIRED", "=", "POSITIVE"})
            EXPECT_EQ(h.out.find(label), std::string::npos) << command << ": " << label;
    }
}

// --- preview -----------------------------------------------------------------------------------------------

struct Pgm {
    int width = 0, height = 0;
    Bytes grey;
};
Pgm readPgm(const std::string& path) {
    const std::string text = slurpText(path);
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    Pgm p;
    in >> magic >> p.width >> p.height >> maxval;
    EXPECT_EQ(magic, "P5");
    p.grey.assign(text.begin() + static_cast<std::ptrdiff_t>(in.tellg()) + 1, text.end());
    return p;
}

// A picture with greys, colours and a gradient, so that every mode and level has decisions to make.
test::Picture sample(int w, int h) {
    test::Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.set(x, y,
                  {static_cast<std::uint8_t>(x * 255 / (w - 1)), static_cast<std::uint8_t>(y * 255 / (h - 1)),
                   static_cast<std::uint8_t>((x + y) % 3 * 120)});
    return p;
}

TEST(NvlogoPreview, DepthModeSideBySidePrintedAndFormats) {
    const std::string dir = freshDir("preview-options");
    const std::string path = test::writeTempFile("grey.bmp", test::writeBmp24(test::Picture(8, 8, {128, 128, 128})));
    auto whites = [](const Pgm& p) { return std::count(p.grey.begin(), p.grey.end(), 255); };

    // The file's own depth chooses the filter (a 1-bit file is thresholded), unless --bpp names another.
    const std::string one = test::writeTempFile(
        "grey1.bmp", test::writeBmp1(test::Picture(8, 8, {128, 128, 128}), {128, 128, 128}, {128, 128, 128}));
    const struct {
        std::string file;
        const char* bpp;
        long whites;
    } depths[] = {{path, "", 31}, {path, "1", 0}, {one, "", 0}, {one, "24", 31}};
    for (const auto& d : depths) {
        std::vector<std::string> args = {"preview", "-H", "indexed-order", "-o", dir + "/a.pgm", d.file};
        if (*d.bpp) args.insert(args.end(), {"--bpp", d.bpp});
        ASSERT_EQ(nvlogo(args).status, 0);
        EXPECT_EQ(whites(readPgm(dir + "/a.pgm")), d.whites) << d.file << " --bpp " << d.bpp;
    }

    ASSERT_EQ(nvlogo({"preview", "--side-by-side", "-o", dir + "/c.pgm", path}).status, 0);
    const Pgm both = readPgm(dir + "/c.pgm");
    EXPECT_EQ(both.width, 16);
    EXPECT_EQ(both.grey[0], 128);
    EXPECT_EQ(both.grey[8], 0);

    // The printer's dots: the encoder's raster, padded to whole bands.
    const std::string odd = test::writeTempFile("odd.bmp", test::writeBmp24(sample(10, 9)));
    ASSERT_EQ(nvlogo({"preview", "--printed", "-H", "error-diffusion", "-b", "3", "-o", dir + "/d.pgm", odd}).status,
              0);
    const Pgm printed = readPgm(dir + "/d.pgm");
    NvImageEncoder enc;
    ASSERT_TRUE(enc.encodeLogoFile(odd, ErrorDiffusion, 3));
    ASSERT_EQ(printed.width, 16);
    ASSERT_EQ(printed.height, 16);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y) {
            const bool dot = enc.raster()[static_cast<std::size_t>(x * 2 + y / 8)] & (0x80 >> (y % 8));
            EXPECT_EQ(printed.grey[static_cast<std::size_t>(y * 16 + x)], dot ? 0 : 255) << x << "," << y;
        }

    // PNG to the standard output, with the note of a logo drawn on white.
    const auto png = nvlogo({"preview", "--printed", "-o", "-", example("badge.bmp")});
    ASSERT_EQ(png.status, 0) << png.err;
    EXPECT_EQ(png.out.substr(1, 3), "PNG");
    EXPECT_TRUE(holds(png.err, "badge.bmp: half-toning not used: the bottom-left pixel is white"));

    const auto junk = nvlogo({"preview", "-o", dir + "/f.png", test::writeTempFile("junk.bmp", Bytes(100, 7))});
    EXPECT_EQ(junk.status, 2);
    EXPECT_FALSE(junk.err.empty());
    EXPECT_EQ(nvlogo({"preview", "--bpp", "0", "-o", dir + "/f.png", path}).status, 2);
    EXPECT_TRUE(slurp(dir + "/f.png").empty());
}

} // namespace
} // namespace tessera
