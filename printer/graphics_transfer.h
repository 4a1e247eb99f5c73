#pragma once
// The printer's side of an NV graphics transfer: its room before the stream, its key list after it.

#include "base/result.h"
#include "printer/confirmed_transfer.h"
#include "printer/printer_conversation.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessera {

// The printer's NV graphics capacity in bytes (freeOnly: its free capacity); nothing when it did not answer
// within bound or answered malformed; an Io error when the port failed.
Result<std::optional<std::uint64_t>> askGraphicsRoom(PrinterConversation& conversation, std::chrono::milliseconds bound,
                                                     bool freeOnly);

// Why a list of need bytes cannot be stored in room bytes ("nothing sent: …"); empty when it fits. keep:
// room is the free capacity, else the whole capacity, since the upload deletes every key first.
std::string graphicsRoomRefusal(std::uint64_t need, std::uint64_t room, bool keep);

// The confirmation of an upload: the key list, read after everything sent before it, must hold every key.
// A list without some of them is a BadInput error naming them; no list is "not answered".
StreamCheck graphicsKeysCheck(std::vector<std::string> keys);

} // namespace tessera
