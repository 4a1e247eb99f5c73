#include "app/printer_models.h"

namespace tessera {

std::vector<std::string> matchPrinters(const std::vector<InstalledPrinter>& printers) {
    std::vector<std::string> names;
    for (const InstalledPrinter& p : printers)
        for (const char* model : printerModelTable)
            if (p.driverName == model) names.push_back(p.name);
    return names;
}

} // namespace tessera
