#include "base/file_io.h"

#include "base/unique_handle_win32.h"
#include "base/windows_text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace tessera {
namespace {

// "CreateFileW: (0x00000020) The process cannot access the file ..."
std::string winError(const char* call, const std::string& path) {
    DWORD code = GetLastError();
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
    char head[32];
    std::snprintf(head, sizeof head, "(0x%08lX) ", static_cast<unsigned long>(code));
    return path + ": " + call + ": " + head + text;
}

Result<std::vector<std::uint8_t>> readHandle(HANDLE h, const std::string& path, std::size_t maxBytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) return ioError(winError("GetFileSizeEx", path));
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return badInput(path + ": file is larger than " + std::to_string(maxBytes) + " bytes");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(h, bytes.data() + done, want, &got, nullptr)) return ioError(winError("ReadFile", path));
        if (got == 0) return ioError(path + ": file ended before its size");
        done += got;
    }
    return bytes;
}

Result<std::vector<std::uint8_t>> readShared(const std::string& path, DWORD share, std::size_t maxBytes) {
    UniqueFileHandle h(
        CreateFileW(widen(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return ioError(winError("CreateFileW", path));
    return readHandle(h.get(), path, maxBytes);
}

std::string folderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    return narrow(path.substr(0, slash == 0 || path[slash - 1] == L':' ? slash + 1 : slash));
}

// The full path of the file a symbolic link (or another reparse point) leads to; of other paths, and of
// links that lead nowhere, the path itself. Full paths, because ReplaceFileW refuses some relative ones.
std::wstring followLinks(const std::wstring& given) {
    std::wstring path = given;
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length > 0 && length < full.size()) path.assign(full.data(), length);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    UniqueFileHandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return path;
    std::wstring resolved(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h.get(), resolved.data(), static_cast<DWORD>(resolved.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= resolved.size()) return path;
    resolved.resize(n);
    return resolved;
}

} // namespace

Result<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::size_t maxBytes) {
    return readShared(path, FILE_SHARE_READ, maxBytes);
}

Result<std::vector<std::uint8_t>> readWholeFileExclusive(const std::string& path, std::size_t maxBytes) {
    return readShared(path, 0, maxBytes);
}

Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) return badInput("no file name given");
    const std::wstring target = followLinks(widen(path));
    // ReplaceFileW keeps the replaced file's attributes and access rights; a new file gets the folder's.
    const DWORD oldAttributes = GetFileAttributesW(target.c_str());
    const bool replacing = oldAttributes != INVALID_FILE_ATTRIBUTES && !(oldAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const std::string folder = folderOf(target); // before any failure, which it must not overwrite
    std::wstring tmp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        raw = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return ioError(winError("CreateFileW", path + ": cannot create a file in the folder " + folder));
    }
    UniqueFileHandle h(raw);
    if (!h) return ioError(path + ": no free temporary file name beside it");
    auto fail = [&](const char* call) {
        Status s = ioError(winError(call, path));
        h.reset();
        DeleteFileW(tmp.c_str());
        return s;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(h.get(), bytes.data() + done, want, &put, nullptr) || put == 0) return fail("WriteFile");
        done += put;
    }
    if (!FlushFileBuffers(h.get())) return fail("FlushFileBuffers");
    if (!CloseHandle(h.release())) return fail("CloseHandle");
    const bool moved =
        replacing
            ? ReplaceFileW(target.c_str(), tmp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved) {
        Status s = ioError(winError(replacing ? "ReplaceFileW" : "MoveFileExW", path));
        DeleteFileW(tmp.c_str());
        return s;
    }
    return {};
}

bool sameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        UniqueFileHandle h(CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return h && GetFileInformationByHandle(h.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

} // namespace tessera
