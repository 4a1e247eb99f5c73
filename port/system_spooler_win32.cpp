#include "port/system_spooler.h"

#include "base/windows_text.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>

namespace tessera {

// Printer names reach the spooler in the ANSI code page, as its A entry points take them; the rest of the
// program speaks UTF-8.

SystemSpooler::~SystemSpooler() { closePrinter(); }

bool SystemSpooler::openPrinter(const std::string& printerName) {
    closePrinter();
    std::string name = narrow(widen(printerName), kAnsiCodePage);
    HANDLE h = nullptr;
    if (!OpenPrinterA(name.data(), &h, nullptr)) return false;
    handle_ = h;
    return true;
}

bool SystemSpooler::startDocument(const std::string& documentName, const std::string& dataType) {
    if (!handle_) return false;
    std::string doc = documentName, type = dataType;
    DOC_INFO_1A info{doc.data(), nullptr, type.data()};
    if (StartDocPrinterA(static_cast<HANDLE>(handle_), 1, reinterpret_cast<LPBYTE>(&info)) == 0) return false;
    inDocument_ = true;
    return true;
}

bool SystemSpooler::writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    if (!handle_ || !inDocument_) return false;
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WritePrinter(static_cast<HANDLE>(handle_), const_cast<std::uint8_t*>(bytes.data()), want, &put)) return false;
    written = put;
    return true;
}

bool SystemSpooler::endDocument() {
    if (!handle_ || !inDocument_) return false;
    inDocument_ = false;
    return EndDocPrinter(static_cast<HANDLE>(handle_)) != 0;
}

bool SystemSpooler::closePrinter() {
    if (!handle_) return true;
    if (inDocument_) endDocument();
    const bool ok = ClosePrinter(static_cast<HANDLE>(handle_)) != 0;
    handle_ = nullptr;
    return ok;
}

std::vector<SpoolerPrinter> listSpoolerPrinters() {
    std::vector<SpoolerPrinter> printers;
    DWORD needed = 0, returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0) return printers;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned)) return printers;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        printers.push_back({narrow(widen(info[i].pPrinterName ? info[i].pPrinterName : "", kAnsiCodePage)),
                            narrow(widen(info[i].pDriverName ? info[i].pDriverName : "", kAnsiCodePage))});
    return printers;
}

// The spooler's library is linked; Windows always has it.
std::string spoolerUnavailable() {
    return {};
}

} // namespace tessera
