// The `.bit` file of the NV images, the stores that keep it and the NV graphics, and the directory of printouts.

#include "tools/nvlogo_printer/disk_host.h"

#include "base/file_io.h"
#include "printer/logo_files.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <filesystem>

namespace tessera::vp {
namespace {

using test::freshDir;
using test::slurp;

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Two images, 1 x 1 and 2 x 1 units.
const Bytes kFile = [] {
    Bytes b = {0x1B, 0x40, 0x1C, 0x71, 0x02, 0x01, 0x00, 0x01, 0x00};
    b.insert(b.end(), 8, 0x80);
    b.insert(b.end(), {0x02, 0x00, 0x01, 0x00});
    b.insert(b.end(), 16, 0x01);
    return b;
}();

TEST(NvFile, ReadsExactlyOneDefinition) {
    auto images = parseNvFile(kFile);
    ASSERT_TRUE(images) << images.error().message;
    ASSERT_EQ(images->size(), 2u);
    EXPECT_EQ((*images)[1]->widthDots(), 16);
    EXPECT_TRUE((*images)[0]->dot(3, 0));
    EXPECT_FALSE((*images)[0]->dot(3, 1));
    EXPECT_EQ(formatNvFile(*images), kFile);
    EXPECT_TRUE(parseNvFile({})->empty());

    auto text = parseImageFile(formatLogoFile(kFile, HEX));
    ASSERT_TRUE(text);
    EXPECT_EQ(formatNvFile(*text), kFile);

    auto with = [](std::size_t at, std::initializer_list<std::uint8_t> values) {
        Bytes b = kFile;
        std::copy(values.begin(), values.end(), b.begin() + std::ptrdiff_t(at));
        return b;
    };
    Bytes cut = kFile, longer = kFile;
    cut.pop_back();
    longer.push_back(0);
    for (const Bytes& bad : {cut, longer, Bytes(kFile.begin(), kFile.begin() + 7), with(0, {0x1C}), with(4, {0}),
                             with(4, {3}), with(5, {0}), with(7, {0x21, 0x01}) /* y = 289 */}) {
        auto r = parseNvFile(bad);
        EXPECT_FALSE(r) << bad.size();
        if (!r) {
            EXPECT_NE(r.error().message.find("offset"), std::string::npos);
        }
    }
}

TEST(NvStore, TheFileIsWhatThePrinterHolds) {
    const std::string dir = freshDir("nvstore");
    const std::string path = dir + "/nv.bit";
    NvStore store(path);
    ASSERT_TRUE(store.load(100));
    EXPECT_EQ(store.count(), 0u);
    EXPECT_TRUE(fs::exists(path)); // written back: a file it cannot keep is found at the start
    ASSERT_TRUE(store.define(*parseNvFile(kFile)));
    EXPECT_EQ(slurp(path), kFile);

    NvStore again(path);
    ASSERT_TRUE(again.load(32));
    EXPECT_EQ(again.image(2)->widthDots(), 16);
    EXPECT_EQ(again.image(3), nullptr);
    EXPECT_EQ(again.image(0), nullptr);
    EXPECT_EQ(NvStore(path).load(31).error().kind, ErrorKind::BadInput); // 12 + 20 bytes of images

    ASSERT_TRUE(again.erase());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);

    ASSERT_TRUE(writeFileAtomically(path, Bytes(kFile.begin(), kFile.end() - 1)));
    EXPECT_EQ(NvStore(path).load(1000).error().kind, ErrorKind::BadInput);

    NvStore nowhere(dir + "/missing/nv.bit");
    EXPECT_EQ(nowhere.load(1000).error().kind, ErrorKind::Io);
    EXPECT_FALSE(nowhere.define(*parseNvFile(kFile)));
    EXPECT_EQ(nowhere.count(), 0u);
}

TEST(PrintDirectory, NumbersOnFromTheHighestFileAndWritesPng) {
    const std::string dir = freshDir("prints");
    for (const char* name : {"print-0003.png", "print-0011.png", "print-0099.txt", "print-x.png", "other.png"})
        test::writeTempFile(std::string("prints/") + name, {});
    PrintDirectory prints(dir);
    ASSERT_TRUE(prints.open());

    auto image = std::make_shared<const NvImage>(NvImage{1, 1, Bytes{0x80, 0, 0, 0, 0, 0, 0, 0x01}});
    const Bitmap page = renderPage(std::vector<Print>{{image, 2, 1}}, 20);
    EXPECT_EQ(*prints.write(page), "print-0012.png");
    EXPECT_EQ(*prints.write(page), "print-0013.png");

    const Bytes png = slurp(dir + "/print-0012.png");
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), int(png.size()), &w, &h, &channels, 1);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 8);
    std::vector<int> black;
    for (int i = 0; i < w * h; ++i) {
        if (pixels[i] == 0)
            black.push_back(i);
        else
            EXPECT_EQ(pixels[i], 255);
    }
    stbi_image_free(pixels);
    EXPECT_EQ(black, (std::vector<int>{0, 1, 7 * 20 + 14, 7 * 20 + 15}));
}

TEST(GraphicsFile, KeepsTheStoreAcrossARestart) {
    const std::string path = freshDir("graphics-store") + "/nv.bit.graphics";
    Bytes both = {0x1B, 0x40};
    for (const Bytes& define : {graphicsDefineCommand({"", "A1", 9, 3, Bytes(6, 0x5A), false}),
                                graphicsDefineCommand({"", "x,", 16, 1, Bytes(2, 0x5A), false})})
        both.insert(both.end(), define.begin(), define.end());
    {
        GraphicsFile file(path);
        ASSERT_TRUE(file.load(100));
        EXPECT_TRUE(slurp(path).empty());
        ASSERT_TRUE(file.change([&](GraphicsStore& s) {
            s = *parseGraphicsFile(both);
            return Status{};
        }));
    }
    EXPECT_EQ(slurp(path), both);
    GraphicsFile again(path);
    ASSERT_TRUE(again.load(40));
    EXPECT_EQ(again.snapshot()->keys(), (std::vector<std::string>{"A1", "x,"}));
    EXPECT_EQ(again.snapshot()->find("A1")->rows, Bytes(6, 0x5A));
    EXPECT_EQ(GraphicsFile(path).load(39).error().kind, ErrorKind::BadInput); // 22 + 18 bytes
    ASSERT_TRUE(writeFileAtomically(path, Bytes(both.begin(), both.end() - 1)));
    EXPECT_EQ(GraphicsFile(path).load(100).error().kind, ErrorKind::BadInput);
}

} // namespace
} // namespace tessera::vp
