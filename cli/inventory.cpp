#include "cli/inventory.h"

#include "base/file_io.h"

#include <unordered_map>

namespace tessera::cli {

namespace {

constexpr std::size_t kMaxInventoryBytes = std::size_t{64} << 20;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string located(const PortTarget& t) {
    return t.origin.empty() ? t.spec : t.spec + " (" + t.origin + ")";
}

} // namespace

Result<std::vector<PortTarget>> parseInventory(std::string_view text, const std::string& file) {
    std::vector<PortTarget> targets;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::string where = file + ":" + std::to_string(lineNumber);
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#') continue;
        if (content.find('\0') != std::string_view::npos) return badInput(where + ": a NUL byte; not a text file");
        // Leading blanks are trimmed above, so the first tab left ends the port.
        const std::size_t tab = content.find('\t');
        const std::string_view port = trimmed(content.substr(0, tab));
        auto target = parsePortSpec(std::string(port));
        // Installed printers' names may hold spaces, so a space cannot end the port; say what would.
        if (!target)
            return badInput(where + ": " + target.error().message +
                            (port.find(' ') != std::string_view::npos ? " (a name follows the port after a tab)" : ""));
        if (tab != std::string_view::npos) {
            const std::string_view name = trimmed(content.substr(tab + 1));
            if (!name.empty()) target->name = std::string(name);
        }
        target->origin = where;
        targets.push_back(std::move(*target));
    }
    return targets;
}

Result<std::vector<PortTarget>> readInventory(const std::string& file) {
    auto bytes = readWholeFile(file, kMaxInventoryBytes);
    if (!bytes) return badInput(bytes.error().message);
    return parseInventory({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, file);
}

Status checkDistinct(const std::vector<PortTarget>& targets) {
    std::unordered_map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const auto [at, fresh] = seen.emplace(normalisedPort(targets[i]), i);
        if (!fresh)
            return badInput(located(targets[i]) + ": the same printer as " + located(targets[at->second]) +
                            "; name each printer once");
    }
    return {};
}

} // namespace tessera::cli
