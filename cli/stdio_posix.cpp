#include "cli/stdio.h"

namespace tessera {

void setBinaryStdout() {}

} // namespace tessera
