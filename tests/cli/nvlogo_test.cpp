// nvlogo run in process: what each command writes, and the exit status of every kind of failure.

#include "cli/nvlogo.h"

#include "base/file_io.h"
#include "base/json_writer.h"
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
using test::nvlogo;
using test::Outcome;
using test::slurp;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST(NvlogoSave, WritesWhatSaveLogoFileWrites) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp"), example("line-drawing.bmp")};
    const std::string dir = freshDir("save");
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    const struct {
        const char* mode;
        int level;
        SaveFormat format;
    } cases[] = {{"threshold", 0, HEX}, {"error-diffusion", 5, BIN}, {"indexed-order", 10, BIN}};
    for (const auto& c : cases) {
        const std::string out = dir + "/out";
        std::vector<std::string> args = {"save", "-H", c.mode, "-b", std::to_string(c.level),
                                         "-f", c.format == HEX ? "hex" : "bin", "-o", out};
        args.insert(args.end(), logos.begin(), logos.end());
        Outcome r = nvlogo(args);
        ASSERT_EQ(r.status, 0) << r.err;
        // The badge is drawn on white, so the mode and level do not apply to it.
        EXPECT_EQ(r.err, "nvlogo: " + logos[1] + ": half-toning not used: the bottom-left pixel is white\n");
        const int mode = c.level == 0 ? Threshold : c.level == 5 ? ErrorDiffusion : IndexedOrder;
        ASSERT_EQ(ctrl.saveLogoFile(dir + "/ref", logos, mode, c.level, c.format), 0);
        EXPECT_EQ(slurp(out), slurp(dir + "/ref")) << c.mode;
    }
    // The name is used as given: no extension is added.
    EXPECT_TRUE(fs::exists(dir + "/out"));
    EXPECT_FALSE(fs::exists(dir + "/out.bit"));
}

TEST(NvlogoSave, DefaultsAndStandardOutput) {
    const std::string dir = freshDir("stdout");
    Outcome r = nvlogo({"save", "-o", "-", example("badge.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    ASSERT_EQ(ctrl.saveLogoFile(dir + "/ref.bit", {example("badge.bmp")}, Threshold, 5, BIN), 0);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), slurp(dir + "/ref.bit"));
    // Options are case-insensitive words; long forms work too.
    Outcome hex = nvlogo({"save", "--halftone", "Indexed-Order", "--brightness", "2", "--format", "HEX", "--output", "-",
                      example("badge.bmp")});
    ASSERT_EQ(hex.status, 0) << hex.err;
    EXPECT_EQ(hex.out.substr(0, 15), "1B 40 1C 71 01 ");
}

TEST(NvlogoSave, BadInputIsStatus2WithOneLineAndNoFile) {
    const std::string dir = freshDir("bad");
    const std::string out = dir + "/x.bit";
    const std::string broken = test::writeTempFile("cli-broken.bmp", {'B', 'M', 9});
    const std::vector<std::vector<std::string>> cases = {
        {"save", example("badge.bmp")},                            // no -o
        {"save", "-o", out},                                       // no logo
        {"save", "-H", "dither", "-o", out, example("badge.bmp")}, // unknown mode
        {"save", "-b", "11", "-o", out, example("badge.bmp")},     // level out of range
        {"save", "-b", "x", "-o", out, example("badge.bmp")},
        {"save", "-f", "png", "-o", out, example("badge.bmp")},
        {"save", "--frobnicate", "-o", out, example("badge.bmp")},
        {"save", "-o", out, broken},                                     // undecodable
        {"save", "-o", out, example("badge.bmp"), dir + "/missing.bmp"}, // unreadable
        {"save", "-o", "", example("badge.bmp")},
        {"save", "-o", dir + "/in.bmp", dir + "/in.bmp"}, // the input (through links: the file_io tests)
        {"preview", "-o", out, example("badge.bmp")},     // neither .png nor .pgm
        {"launch"},
        {},
    };
    fs::copy_file(example("badge.bmp"), dir + "/in.bmp");
    for (const auto& args : cases) {
        Outcome r = nvlogo(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("nvlogo: ", 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
    Outcome tooMany = nvlogo([&] {
        std::vector<std::string> a = {"save", "-o", out};
        a.insert(a.end(), 256, example("line-drawing.bmp"));
        return a;
    }());
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(nvlogo({"save", "-o", dir + "/no/dir/x.bit", example("line-drawing.bmp")}).status, 1);
    EXPECT_EQ(slurp(dir + "/in.bmp"), slurp(example("badge.bmp")));
}

TEST(Nvlogo, UsageErrorsSayWhatIsWrongInOneLine) {
    const std::string badge = example("badge.bmp");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"save", "-H", "bogus", "-o", "-", badge},
         "--halftone: bogus is not one of threshold, error-diffusion or indexed-order"},
        {{"upload", "--capacity", "abc", "-p", "tcp:x", badge}, "--capacity: abc is not a whole number from 1 to"},
        {{"frob"}, "unknown command frob (the commands are save, info,"},
        {{"--versio"}, "unknown option --versio"},
        {{"info", "-dash.bmp"},
         "unknown option -dash.bmp; -- ends the options, so a file name that begins with - goes after it"},
        {{"save", "-o", "a", "-o", "b", badge}, "--output is given more than once"},
        {{"save", badge, "-o"}, "--output needs a value"},
        {{"printers", "extra"}, "unexpected argument extra"},
        {{"print", "--range", "5-2", "-p", "tcp:x"}, "--range '5-2': 5-2 runs backwards"},
    };
    for (const auto& c : cases) {
        Outcome r = nvlogo(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind(std::string("nvlogo: ") + c.says, 0), 0u) << r.err;
    }
}

TEST(NvlogoPreview, PngToStandardOutputAndTheNoteOfALogoDrawnOnWhite) {
    Outcome p = nvlogo({"preview", "--printed", "-o", "-", example("badge.bmp")});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out.substr(1, 3), "PNG");
    EXPECT_NE(p.err.find("badge.bmp: half-toning not used: the bottom-left pixel is white"), std::string::npos);
}

TEST(NvlogoInfo, DescribesEachLogo) {
    Outcome r = nvlogo({"info", example("shop-logo.bmp"), example("badge.bmp"), example("line-drawing.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("shop-logo.bmp: 576 x 160 pixels, 24 bits per pixel, NV size 11520 bytes, fits"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("badge.bmp: 96 x 96 pixels, 8 bits per pixel, NV size 1152 bytes, fits"), std::string::npos);
    EXPECT_NE(r.out.find("line-drawing.bmp: 200 x 120 pixels, 1 bit per pixel, NV size 3000 bytes, fits"),
              std::string::npos);

    const std::string big = test::writeTempFile("cli-big.bmp", test::writeBmp(test::Picture(8200, 8), {.bitCount = 1}));
    Outcome b = nvlogo({"info", big, freshDir("info") + "/missing.bmp"});
    EXPECT_EQ(b.status, 2);
    EXPECT_NE(b.out.find("too large"), std::string::npos);
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
    EXPECT_NE(w.err.find("warning: the logos need 769024 bytes"), std::string::npos) << w.err;
    EXPECT_NE(w.err.find("warning: 256 logos, more than the 255"), std::string::npos) << w.err;
}

TEST(Nvlogo, HelpAndVersion) {
    Outcome v = nvlogo({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("nvlogo "), std::string::npos);
    for (const char* command : {"", "save", "info", "upload", "erase", "print", "send", "preview", "printers"}) {
        Outcome h = nvlogo(*command ? std::vector<std::string>{command, "--help"} : std::vector<std::string>{"--help"});
        EXPECT_EQ(h.status, 0);
        EXPECT_NE(h.out.find("Exit status"), std::string::npos) << h.out;
        for (const char* label : {" TEXT", "INT", "REQUIRED", "=", "POSITIVE"})
            EXPECT_EQ(h.out.find(label), std::string::npos) << command << ": " << label;
    }
}

} // namespace
} // namespace tessera
