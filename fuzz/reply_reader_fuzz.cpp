// The reply reader on arbitrary printer answers. The first byte picks what was asked; the rest is what the
// printer sent. Fed whole or in pieces, the reader must end in the same place; in a conversation, where the
// host asks the next question after each answer, every answer must keep its format's limits.

#include "printer/reply_reader.h"

#include <cstdlib>

namespace {

using namespace tessera;

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr Query kQueries[] = {Query::None,        Query::RealTimeStatus,   Query::PrinterStatus, Query::PrinterId,
                              Query::PrinterInfo, Query::GraphicsCapacity, Query::GraphicsFree,  Query::GraphicsKeys};

void checkAnswer(const Answer& a, Query asked) {
    check(a.query == asked);
    check(a.text.size() <= ReplyReader::kMaxBlockBytes);
    check(a.keys.size() <= ReplyReader::kMaxKeysPerBlock);
    for (const std::string& k : a.keys)
        check(k.size() == 2 && k[0] >= 0x20 && k[0] <= 0x7E && k[1] >= 0x20 && k[1] <= 0x7E);
    if (asked == Query::RealTimeStatus) check((a.byte & 0x93) == 0x12);
    if (asked == Query::PrinterStatus) check((a.byte & 0x90) == 0);
    if (a.malformed) check(a.keys.empty() && !a.more);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Query first = kQueries[data[0] % std::size(kQueries)];
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    ReplyReader whole, pieces;
    whole.expect(first);
    pieces.expect(first);
    whole.feed(stream);
    for (std::size_t at = 0, step = 1 + data[0] / 8; at < stream.size(); at += step)
        pieces.feed(stream.subspan(at, std::min(step, stream.size() - at)));
    const auto a = whole.takeAnswer(), b = pieces.takeAnswer();
    check(a.has_value() == b.has_value());
    if (a) {
        checkAnswer(*a, first);
        check(a->byte == b->byte && a->text == b->text && a->keys == b->keys && a->malformed == b->malformed);
    }
    check(whole.latestStatus() == pieces.latestStatus() && whole.strayBytes() == pieces.strayBytes());

    // A conversation: after each answer the host asks the next question.
    ReplyReader talk;
    std::size_t next = data[0];
    Query asked = kQueries[next % std::size(kQueries)];
    talk.expect(asked);
    for (std::uint8_t byte : stream) {
        talk.feed(std::span(&byte, 1));
        if (auto answer = talk.takeAnswer()) {
            checkAnswer(*answer, asked);
            asked = kQueries[++next % std::size(kQueries)];
            talk.expect(asked);
        }
    }
    return 0;
}
