#pragma once
// Whole-file reads and all-or-nothing writes. Paths are byte strings as the platform takes them (UTF-8 on
// Linux, the ANSI code page on Windows).

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera {

// Reads the whole file, which other programs may hold open too. Files larger than maxBytes are refused
// (BadInput) before anything is read; a missing or unreadable file is an Io error naming the path.
Result<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::size_t maxBytes);

// Reads the whole file opened without sharing: on Windows the open fails while another program holds the
// file. POSIX has no such lock; there it is readWholeFile.
Result<std::vector<std::uint8_t>> readWholeFileExclusive(const std::string& path, std::size_t maxBytes);

// Writes bytes to a temporary file beside path and renames it over path only when every byte is on disk, so
// a failure leaves neither a partial file nor a changed old one. A symbolic link is written through: the file
// it names is replaced and the link stays. An existing file keeps its permissions. Errors name path, not the
// temporary file: Io with the failing call's reason (naming the folder when no file can be made there), or
// BadInput for an empty path.
Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// True when both paths exist and name the same file, through links too (a symbolic or a hard link).
bool sameFile(const std::string& a, const std::string& b);

} // namespace tessera
