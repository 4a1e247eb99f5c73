#pragma once
// Asking a printer what it is and how it is, and what its answers mean.

#include "base/result.h"
#include "printer/printer_conversation.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessera {

namespace json {
class Writer;
}

struct PrinterStatusReport {
    bool answers = false; // DLE EOT 1 was answered
    // Each null where the printer did not answer the request it comes from.
    std::optional<bool> online;
    std::optional<std::string> paper;               // "ok", "near-end", "end"
    std::optional<std::string> cover;               // "closed", "open"
    std::optional<std::vector<std::string>> errors; // "offline", "cover-open", "paper-end-stop", "mechanical",
                                                    // "cutter", "unrecoverable", "auto-recoverable"
    std::array<std::optional<std::uint8_t>, 3> ids; // GS I 1, 2, 3
    std::optional<std::string> firmware, maker, model, serial; // GS I 65, 66, 67, 68
    struct Graphics {
        std::uint64_t capacity = 0;
        std::optional<std::uint64_t> free;
        std::optional<std::vector<std::string>> keys;
    };
    std::optional<Graphics> nvGraphics; // null when the capacity query went unanswered
    // Why the conversation ended early (the connection failed, the port cannot read); the fields asked
    // before stay filled.
    std::optional<Error> failure;
};

// The real-time status bytes (DLE EOT 1..4, each null when unanswered) in words.
void describeRealTimeStatus(const std::array<std::optional<std::uint8_t>, 4>& status, PrinterStatusReport& report);

// Sends DLE EOT 1; only when it is answered DLE EOT 2, 3, 4, GS I 1, 2, 3, 65, 66, 67, 68 and the NV
// graphics queries (capacity, free, key list), the latter until the first that goes unanswered. Each is given
// at most bound. Nothing else is sent.
PrinterStatusReport queryPrinterStatus(PrinterConversation& conversation,
                                       std::chrono::milliseconds bound = std::chrono::milliseconds(500));

// The NV graphics key list, block by block: ACK after each block, NAK (at most three times running) for a
// malformed one, CAN when giving up. Nothing when the printer did not answer or kept sending bad blocks.
Result<std::optional<std::vector<std::string>>> readGraphicsKeys(PrinterConversation& conversation,
                                                                 std::chrono::milliseconds bound);

// The report as the object of status --json: port, answers, online, paper, cover, errors, maker, model,
// firmware, serial, nv_graphics (capacity, free, keys); null for what went unanswered.
void writeStatusJson(json::Writer& w, const std::string& port, const PrinterStatusReport& report);

} // namespace tessera
