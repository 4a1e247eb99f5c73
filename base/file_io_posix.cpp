#include "base/file_io.h"

#include "base/unique_fd_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera {
namespace {

std::string sysError(const char* call, const std::string& path) {
    return path + ": " + call + ": " + std::strerror(errno);
}

Result<std::vector<std::uint8_t>> readFd(int fd, const std::string& path, std::size_t maxBytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return ioError(sysError("fstat", path));
    if (S_ISDIR(st.st_mode)) return ioError(path + ": is a directory");
    std::vector<std::uint8_t> bytes;
    if (S_ISREG(st.st_mode)) {
        if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
            return badInput(path + ": file is larger than " + std::to_string(maxBytes) + " bytes");
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    // Read to the end rather than trusting st_size: pipes and growing files report no useful size.
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(sysError("read", path));
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes)
            return badInput(path + ": file is larger than " + std::to_string(maxBytes) + " bytes");
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends at (the path itself when it is no link, or names nothing yet). A
// dangling link gives the missing file it names, so that saving creates it.
Result<std::string> followLinks(const std::string& path) {
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string link(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
        if (n < 0) return ioError(sysError("readlink", path));
        if (static_cast<std::size_t>(n) >= link.size()) continue; // the link changed under us: read it again
        link.resize(static_cast<std::size_t>(n));
        at = link[0] == '/' || at.find('/') == std::string::npos ? link : folderOf(at) + "/" + link;
    }
    return ioError(path + ": too many levels of symbolic links");
}

} // namespace

Result<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::size_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return ioError(sysError("open", path));
    return readFd(fd.get(), path, maxBytes);
}

Result<std::vector<std::uint8_t>> readWholeFileExclusive(const std::string& path, std::size_t maxBytes) {
    return readWholeFile(path, maxBytes);
}

Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) return badInput("no file name given");
    auto resolved = followLinks(path);
    if (!resolved) return resolved.error();
    const std::string& target = *resolved;
    // A replaced file keeps its permissions; a new one gets those of a plain create (0666 less the umask).
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    std::string tmp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        tmp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        raw = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
        if (raw < 0 && errno != EEXIST)
            return ioError(path + ": cannot create a file in the folder " + folderOf(target) +
                           ": open: " + std::strerror(errno));
    }
    if (raw < 0) return ioError(path + ": no free temporary file name beside it");
    UniqueFd fd(raw);
    auto fail = [&](const char* call) {
        Status s = ioError(sysError(call, path));
        ::close(fd.release());
        ::unlink(tmp.c_str());
        return s;
    };
    if (replacing && ::fchmod(fd.get(), old.st_mode & 07777) != 0) return fail("fchmod");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0 && errno != EINVAL) return fail("fsync");
    if (::close(fd.release()) != 0) {
        Status s = ioError(sysError("close", path));
        ::unlink(tmp.c_str());
        return s;
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        Status s = ioError(sysError("rename", path));
        ::unlink(tmp.c_str());
        return s;
    }
    return {};
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace tessera
