// The readers of files.ini and nvupload.ini, which a person may have edited by hand. What the list reader
// takes must survive being written and read again.

#include "app/settings_files.h"

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessera;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto logos = parseLogoList(text);
    std::vector<LogoEntry> entries;
    bool writable = true;
    for (const StoredLogo& logo : logos) {
        // A path or name with a bar or a line break cannot be stored without changing its meaning.
        for (const std::string* part : {&logo.path, &logo.name})
            if (part->find_first_of("|\r\n") != std::string::npos) writable = false;
        entries.emplace_back(logo.name, logo.path, 24, 1, 1);
    }
    if (writable && !logos.empty()) {
        const auto again = parseLogoList(composeLogoList(entries));
        check(again.size() == logos.size());
        for (std::size_t i = 0; i < logos.size(); ++i)
            check(again[i].path == logos[i].path && again[i].name == logos[i].name);
    }

    PortSelections selections{};
    if (parsePortSelections(text, selections)) {
        PortSelections again{};
        check(parsePortSelections(composePortSelections(selections), again) && again == selections);
    }
    return 0;
}
