#pragma once
// The system's printer spooler: a raw document to an installed printer, and the list of installed printers.

#include "port/ports.h"

#include <string>
#include <vector>

namespace tessera {

struct SpoolerPrinter {
    std::string name;
    std::string driverName; // the make and model of its driver
};

class SystemSpooler : public PrinterSpooler {
  public:
    SystemSpooler() = default;
    ~SystemSpooler() override;
    SystemSpooler(const SystemSpooler&) = delete;
    SystemSpooler& operator=(const SystemSpooler&) = delete;

    bool openPrinter(const std::string& printerName) override;
    bool startDocument(const std::string& documentName, const std::string& dataType) override;
    bool writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) override;
    bool endDocument() override;
    bool closePrinter() override;
    // Why the spooler could not be used, where the platform says more than a failed open (a missing library).
    std::string lastError() const override { return error_; }

  private:
    void* handle_ = nullptr;
    bool inDocument_ = false;
    std::string error_;
};

// The local printers in the spooler's order; empty when it returned none.
std::vector<SpoolerPrinter> listSpoolerPrinters();

// Empty when the spooler can be used; otherwise one line saying which library is missing and why. Where the
// spooler's library is loaded only when first needed (Linux), the first call loads it.
std::string spoolerUnavailable();

} // namespace tessera
