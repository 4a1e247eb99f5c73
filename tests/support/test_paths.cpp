#include "support/test_paths.h"

namespace tessera::test {

std::string testDataDir() { return TESSERA_TEST_DATA_DIR; }
std::string examplesDir() { return TESSERA_EXAMPLES_DIR; }

} // namespace tessera::test
