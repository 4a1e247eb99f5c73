#pragma once
// An advisory lock that one process at a time may hold, kept in a file of its own beside the file it guards
// (that file is replaced by renames, which a lock on it would not survive). The lock file stays after use.

#include "base/result.h"

#include <memory>
#include <string>

namespace tessera::cli {

class FileLock {
  public:
    virtual ~FileLock() = default; // releases the lock
};

// Takes the lock held in the file at path (made when missing) without waiting. Another holder: BadInput
// "another rollout is using SUBJECT". Any other failure: BadInput naming the path and the failed call.
Result<std::unique_ptr<FileLock>> lockFile(const std::string& path, const std::string& subject);

} // namespace tessera::cli
