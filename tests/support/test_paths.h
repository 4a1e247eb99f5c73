#pragma once
// Where the tests find their files, and a few file helpers.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::test {

std::string testDataDir();                    // tests/data in the source tree
std::string examplesDir();                    // examples/ in the source tree
std::string example(const std::string& name); // a file of examples/

// An empty directory of that name under the process's temporary directory (emptied if it exists).
std::string freshDir(const std::string& name);
// The whole file, or nothing when it cannot be read.
std::vector<std::uint8_t> slurp(const std::string& path);
std::string slurpText(const std::string& path);

// Whether the text holds the part; a failure shows both.
inline testing::AssertionResult holds(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

} // namespace tessera::test
