#pragma once
// The printer models the printer-driver list offers, and the match that picks the installed printers of
// those models.

#include <array>
#include <string>
#include <vector>

namespace tessera {

// A printer of the spooler's list: its own name and the name of its driver (its make and model).
struct InstalledPrinter {
    std::string name;
    std::string driverName;
};

inline constexpr std::array<const char*, 3> printerModelTable = {"VELKA KTX310", "VELKA KTX410", "VELKA PRX250-III"};

// The names of the printers whose driver name equals one of the models exactly, in the spooler's order.
// Only the driver name is tested: a printer is listed under its own name, whatever that is.
std::vector<std::string> matchPrinters(const std::vector<InstalledPrinter>& printers);

} // namespace tessera
