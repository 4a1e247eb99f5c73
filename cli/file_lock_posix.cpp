#include "cli/file_lock.h"

#include "base/unique_fd_posix.h"
#include "port/system_error.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>

namespace tessera::cli {

namespace {

class PosixFileLock : public FileLock {
  public:
    explicit PosixFileLock(UniqueFd fd) : fd_(std::move(fd)) {}

  private:
    UniqueFd fd_; // closing it releases the lock
};

} // namespace

Result<std::unique_ptr<FileLock>> lockFile(const std::string& path, const std::string& subject) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) return badInput(path + ": " + systemError("open", errno));
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return badInput("another rollout is using " + subject);
        return badInput(path + ": " + systemError("flock", errno));
    }
    return std::unique_ptr<FileLock>(std::make_unique<PosixFileLock>(std::move(fd)));
}

} // namespace tessera::cli
