#include "printer/printer_conversation.h"

#include <array>

namespace tessera {

PrinterConversation::PrinterConversation(ByteSink& out, ReplySource& in, Clock clock)
    : out_(out), in_(in), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

Status PrinterConversation::send(std::span<const std::uint8_t> bytes) {
    if (!out_.write(bytes)) return ioError("the printer did not take the request");
    return {};
}

Status PrinterConversation::readEarly() {
    reader_.expect(Query::None);
    std::array<std::uint8_t, kReadBytes> buffer;
    for (std::size_t early = 0; early < kMaxEarlyBytes;) {
        auto got = in_.read(buffer, std::chrono::milliseconds(0));
        if (!got) return got.error();
        if (*got == 0) break;
        reader_.feed(std::span(buffer).first(*got));
        early += *got;
    }
    return {};
}

Result<std::optional<Answer>> PrinterConversation::ask(const Request& request, std::chrono::milliseconds bound) {
    if (Status s = readEarly(); !s) return s.error();
    reader_.expect(request.query);
    if (Status s = send(request.bytes); !s) return s.error();
    if (Status s = in_.drain(bound); !s) return s.error();
    const auto deadline = clock_() + bound;
    std::array<std::uint8_t, kReadBytes> buffer;
    for (;;) {
        if (std::optional<Answer> a = reader_.takeAnswer()) return std::optional<Answer>(std::move(*a));
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock_());
        if (left.count() <= 0) return std::optional<Answer>();
        auto got = in_.read(buffer, left);
        if (!got) return got.error();
        reader_.feed(std::span(buffer).first(*got));
    }
}

} // namespace tessera
