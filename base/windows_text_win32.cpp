#include "base/windows_text.h"

#include <windows.h>

namespace tessera {

std::wstring widen(std::string_view text, unsigned codePage) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view text, unsigned codePage, bool* lossy) {
    if (lossy) *lossy = false;
    if (text.empty()) return {};
    const bool checked = lossy && codePage != CP_UTF8;
    const DWORD flags = checked ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL missing = FALSE;
    const int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      checked ? &missing : nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                            checked ? &missing : nullptr);
    if (lossy) *lossy = missing != FALSE;
    return out;
}

} // namespace tessera
