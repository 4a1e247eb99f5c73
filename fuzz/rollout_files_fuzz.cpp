// The files a rollout reads before it sends anything: the inventory of printers and the ledger. Whatever the
// bytes, each is read or refused with a reason naming the file; a ledger that is read writes back to text
// that reads as the same entries.

#include "cli/inventory.h"
#include "cli/ledger.h"

#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Lines and entries repeat; longer inputs only slow the search.
    if (size > 1 << 14) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto targets = tessera::cli::parseInventory(text, "f")) {
        for (const auto& t : *targets)
            check(t.origin.rfind("f:", 0) == 0 && !t.spec.empty());
        (void)tessera::cli::checkDistinct(*targets);
    } else {
        check(targets.error().message.rfind("f:", 0) == 0);
    }
    if (auto entries = tessera::cli::parseLedger(text, "l")) {
        auto again = tessera::cli::parseLedger(tessera::cli::ledgerText(*entries), "l");
        check(again && again->size() == entries->size());
        for (const auto& [port, entry] : *entries)
            check(again->at(port).sha256 == entry.sha256 && again->at(port).confirmed == entry.confirmed);
    } else {
        check(entries.error().message.rfind("l: damaged ledger (", 0) == 0);
    }
    return 0;
}
