#pragma once
// The one bounded way to talk with a printer: write a request, then wait for the answer to it. A status
// query, a confirmation after a transfer and a block query with its ACK / NAK / CAN handshake all go through
// ask(); the stream between questions goes through send(). Each conversation is owned by one thread; many
// may run at once over separate ports.

#include "base/result.h"
#include "base/byte_sink.h"
#include "port/reply_source.h"
#include "printer/reply_reader.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>

namespace tessera {

class PrinterConversation {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::size_t kReadBytes = 256;
    // What is read before a request as unsolicited (status blocks, late answers); a printer that keeps
    // talking cannot hold the question back for longer than this.
    static constexpr std::size_t kMaxEarlyBytes = 4096;

    // out and in are usually one port dispatcher; both stay owned by the caller. clock measures the bounds
    // (tests pass their own).
    PrinterConversation(ByteSink& out, ReplySource& in, Clock clock = {});

    // Sends the request and waits for its answer. What arrived before it is read first, as unsolicited: it
    // cannot answer a question not yet asked. The bound starts once the request has left the host (the
    // port's drain, itself given at most bound), so a long bound after a long stream counts from its last
    // byte. The answer (possibly malformed, for the caller to ask again); nothing when none came within the
    // bound; an Io error when the request was not taken or the port cannot read or failed.
    Result<std::optional<Answer>> ask(const Request& request, std::chrono::milliseconds bound);

    // Sends bytes that call for no answer: the stream between questions, a CAN.
    Status send(std::span<const std::uint8_t> bytes);

    const ReplyReader& reader() const { return reader_; }

  private:
    Status readEarly();

    ByteSink& out_;
    ReplySource& in_;
    Clock clock_;
    ReplyReader reader_;
};

} // namespace tessera
