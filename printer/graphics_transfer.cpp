#include "printer/graphics_transfer.h"

#include "printer/nv_graphics.h"
#include "printer/printer_status.h"

#include <algorithm>

namespace tessera {

Result<std::optional<std::uint64_t>> askGraphicsRoom(PrinterConversation& conversation, std::chrono::milliseconds bound,
                                                     bool freeOnly) {
    auto a = conversation.ask(freeOnly ? graphicsFreeRequest() : graphicsCapacityRequest(), bound);
    if (!a) return a.error();
    if (!*a || (*a)->malformed) return std::optional<std::uint64_t>();
    return std::optional<std::uint64_t>((*a)->number);
}

std::string graphicsRoomRefusal(std::uint64_t need, std::uint64_t room, bool keep) {
    if (need <= room) return {};
    return "nothing sent: the logos need " + std::to_string(need) + " bytes of NV graphics memory, " +
           std::to_string(room) +
           (keep ? " are free" : " are free once every key is deleted (the printer's whole capacity)");
}

StreamCheck graphicsKeysCheck(std::vector<std::string> keys) {
    return [keys = std::move(keys)](PrinterConversation& c, std::chrono::milliseconds bound) -> Result<bool> {
        auto listed = readGraphicsKeys(c, bound);
        if (!listed) return listed.error();
        if (!*listed) return false;
        std::vector<std::string> missing;
        for (const std::string& key : keys)
            if (std::find((*listed)->begin(), (*listed)->end(), key) == (*listed)->end()) missing.push_back(key);
        if (missing.empty()) return true;
        return badInput("the printer's key list lacks " + graphicsKeyList(missing));
    };
}

} // namespace tessera
