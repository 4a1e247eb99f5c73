#pragma once
// files.ini (the logo list) and nvupload.ini (the six port-list selections), beside the program. Every
// line is written ending in CR CR LF, as the program has always stored them; the readers take those lines
// and lines ending in CR LF or LF alike.

#include "app/logo_entry.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// A files.ini line as read back: the path and the name, in stored bytes.
struct StoredLogo {
    std::string path;
    std::string name;
};

// The file for the list: nothing at all for an empty list, else the header and one line per entry. The
// entries' path and name are taken as given (already in stored bytes).
std::string composeLogoList(const std::vector<LogoEntry>& entries);
// The stored logos of a files.ini text, in order; none when the header is missing. A line's value runs
// from its first "=" to the end of the line, so a path holding "=" survives; blank lines are skipped.
std::vector<StoredLogo> parseLogoList(std::string_view text);

// Port, BaudRate, BitLength, Parity, StopBit, HandShake: a list's selected index, −1 for none.
using PortSelections = std::array<int, 6>;
std::string composePortSelections(const PortSelections& selections);
// False when the header is missing. A missing line reads as 0; each value is read as atoi reads it.
bool parsePortSelections(std::string_view text, PortSelections& selections);

// Whether the bytes are well-formed UTF-8 (shortest forms only, no surrogates, nothing past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

} // namespace tessera
