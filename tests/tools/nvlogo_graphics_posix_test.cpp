// nvlogo's NV graphics against the nvlogo-printer executable: the defines that arrive, --keep, the capacity
// refusal, --family auto, deletes by key, and the command lines it refuses.

#include "cli/nvlogo.h"
#include "printer_process_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"
#include "tools/nvlogo_printer/graphics_store.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tessera {
namespace {

using test::example;
using test::nvlogo;
using test::Outcome;
namespace fs = std::filesystem;

struct Printer : test::PrinterProcess {
    Printer(const std::string& name, std::vector<std::string> more) : PrinterProcess(test::freshDir(name), more) {}
    std::vector<std::string> keys() const { return vp::parseGraphicsFile(storeBytes())->keys(); }
    std::vector<std::uint8_t> storeBytes() const { return test::slurp(dir + "/nv.bit.graphics"); }
};

TEST(NvlogoGraphics, UploadKeepRefuseAndDeleteByKey) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp"),
                                            example("line-drawing.bmp")};
    Printer printer("graphics-printer", {"--model", "graphics", "--graphics-capacity", "20000"});
    ASSERT_FALSE(printer.address.empty());
    const auto upload = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"upload", "-H", "indexed-order", "-p", printer.address});
        return nvlogo(args);
    };
    Outcome r = upload({"--family", "graphics", logos[0], logos[1], logos[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("uploaded 3 logos as NV graphics"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", confirmed"), std::string::npos) << r.out;
    // What arrived is exactly what save writes; the store's file holds the defines as they came.
    const std::string saved = printer.dir + "/saved.bit";
    ASSERT_EQ(nvlogo({"save", "--family", "graphics", "--keep", "-H", "indexed-order", "-o", saved, logos[0], logos[1],
                      logos[2]})
                  .status,
              0);
    EXPECT_EQ(printer.storeBytes(), test::slurp(saved));

    ASSERT_EQ(upload({"--family", "graphics", "--keep", "--keys", "x2C41", logos[2]}).status, 0);
    EXPECT_EQ(printer.keys(), (std::vector<std::string>{",A", "01", "02", "03"}));
    const auto before = printer.storeBytes();
    r = upload({"--family", "auto", "--keep", "--keys", "05,06", logos[0], logos[1]});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nothing sent: the logos need "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" are free"), std::string::npos) << r.err;
    EXPECT_EQ(printer.storeBytes(), before);

    r = nvlogo({"erase", "--family", "graphics", "--keys", "02,x2C41", "-p", printer.address});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(printer.keys(), (std::vector<std::string>{"01", "03"}));
    r = nvlogo({"print", "--family", "graphics", "--scale", "double", "-p", printer.address});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(printer.dir + "/out/print-0001.png"));

    Printer bitImage("bit-image-printer", {"--model", "bit-image"});
    r = nvlogo({"upload", "--family", "auto", "-p", bitImage.address, "-p", printer.address, logos[0]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(bitImage.address + ": uploaded 1 logo as NV bit images"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(printer.address + ": uploaded 1 logo as NV graphics"), std::string::npos) << r.out;
}

TEST(NvlogoGraphics, RefusesCommandLinesItCannotCarryOut) {
    const std::string logo = example("line-drawing.bmp"), port = "127.0.0.1:1";
    const std::vector<std::vector<std::string>> cases = {
        {"upload", "--family", "auto", "--confirm", "off", "-p", port, logo},
        {"upload", "--keys", "01", "-p", port, logo},
        {"upload", "--family", "graphics", "--keys", "01,02", "-p", port, logo},
        {"upload", "--family", "graphics", "--keys", "0", "-p", port, logo},
        {"upload", "--family", "graphics", "--capacity", "3015", "-p", port, logo},
        {"print", "--family", "graphics", "--confirm", "off", "-p", port},
        {"print", "--family", "graphics", "--range", "1", "-p", port},
        {"save", "--family", "auto", "-o", "-", logo},
    };
    for (const auto& c : cases) {
        const Outcome r = nvlogo(c);
        EXPECT_EQ(r.status, 2) << c[0] << c[2];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

} // namespace
} // namespace tessera
