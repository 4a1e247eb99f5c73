#include "cli/file_lock.h"

#include "base/unique_handle_win32.h"
#include "port/system_error.h"

namespace tessera::cli {

namespace {

class WindowsFileLock : public FileLock {
  public:
    explicit WindowsFileLock(UniqueFileHandle file) : file_(std::move(file)) {}

  private:
    UniqueFileHandle file_; // opened without sharing: closing it lets the next process in
};

} // namespace

Result<std::unique_ptr<FileLock>> lockFile(const std::string& path, const std::string& subject) {
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            return badInput("another rollout is using " + subject);
        return badInput(path + ": " + systemError("CreateFile", static_cast<int>(code)));
    }
    return std::unique_ptr<FileLock>(std::make_unique<WindowsFileLock>(std::move(file)));
}

} // namespace tessera::cli
