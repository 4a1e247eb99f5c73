#pragma once
// The two files that store an upload stream: `.bit` holds its bytes, `.txt` the same bytes as text, each
// byte two upper-case hexadecimal digits and a space, with no line breaks (the file ends with a space).

#include "base/result.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera {

enum SaveFormat : int {
    BIN = 0, // `.bit`
    HEX = 1, // `.txt`
};

// The file's bytes for a stream in the format.
std::vector<std::uint8_t> formatLogoFile(std::span<const std::uint8_t> stream, SaveFormat format);

// Reads back a `.txt` file: pairs of hexadecimal digits separated by white space (either case accepted).
// Anything else is a BadInput error naming the offset.
Result<std::vector<std::uint8_t>> parseHexText(std::span<const std::uint8_t> text);

} // namespace tessera
