#pragma once
// The listening half of a transport: what the printer sends back. Writes go through ByteSink; a conversation
// (a status request, a confirmation, a block query) writes its request there and reads the answer here.

#include "base/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tessera {

class ReplySource {
  public:
    virtual ~ReplySource() = default;

    // Reads what the printer has sent, waiting at most timeout for the first byte (0 ms: only what has
    // arrived already). The count read, 0 when nothing came in time; an Io error, naming the failed call,
    // when the port cannot read at all or the connection failed.
    virtual Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) = 0;

    // Waits at most limit until everything written has left the host (a serial line's output queue is
    // empty), so that a wait for the answer can start when the request is on its way. Ports that cannot tell
    // return at once.
    virtual Status drain(std::chrono::milliseconds limit) {
        (void)limit;
        return {};
    }
};

} // namespace tessera
