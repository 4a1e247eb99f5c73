#include "support/test_paths.h"

#include "base/file_io.h"
#include "support/bmp_writer.h"

#include <filesystem>

namespace tessera::test {

std::string testDataDir() {
    return TESSERA_TEST_DATA_DIR;
}
std::string examplesDir() {
    return TESSERA_EXAMPLES_DIR;
}
std::string example(const std::string& name) {
    return examplesDir() + "/" + name;
}

std::string freshDir(const std::string& name) {
    const std::string dir = tempDir() + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<std::uint8_t> slurp(const std::string& path) {
    auto r = readWholeFile(path, 1 << 30);
    return r ? *r : std::vector<std::uint8_t>{};
}

std::string slurpText(const std::string& path) {
    const auto bytes = slurp(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace tessera::test
