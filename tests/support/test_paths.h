#pragma once
// Where the tests find their files.

#include <string>

namespace tessera::test {

std::string testDataDir();  // tests/data in the source tree
std::string examplesDir();  // examples/ in the source tree

} // namespace tessera::test
