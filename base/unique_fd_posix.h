#pragma once
// A file descriptor of our own, closed when dropped.

#include "base/unique_handle.h"

#include <unistd.h>

namespace tessera {

struct FdCloser {
    using Handle = int;
    static constexpr int invalid() { return -1; }
    void operator()(int fd) const { ::close(fd); }
};

using UniqueFd = UniqueHandle<FdCloser>;

} // namespace tessera
