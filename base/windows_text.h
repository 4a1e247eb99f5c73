#pragma once
// Text at the edge of the Windows API (Windows builds only): the program speaks UTF-8; Windows takes UTF-16,
// and its A entry points the ANSI code page.

#include <string>
#include <string_view>

namespace tessera {

inline constexpr unsigned kUtf8CodePage = 65001; // CP_UTF8
inline constexpr unsigned kAnsiCodePage = 0;     // CP_ACP

std::wstring widen(std::string_view text, unsigned codePage = kUtf8CodePage);
// lossy: when given, characters the code page lacks are not replaced by look-alikes, and it is set when any
// was missing.
std::string narrow(std::wstring_view text, unsigned codePage = kUtf8CodePage, bool* lossy = nullptr);

} // namespace tessera
