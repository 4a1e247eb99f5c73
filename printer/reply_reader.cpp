#include "printer/reply_reader.h"

namespace tessera {

namespace {

constexpr std::uint8_t kXon = 0x11, kXoff = 0x13;
constexpr std::uint8_t kInfoHeader = 0x5F, kGraphicsHeader = 0x37;
constexpr std::uint8_t kCapacityId = 0x30, kFreeId = 0x31, kKeysId = 0x72;
constexpr std::uint8_t kLastBlock = 0x40, kMoreBlocks = 0x41;

bool isStatusBlockStart(std::uint8_t b) {
    return (b & 0x93) == 0x10;
}

// 1..20 decimal digits that fit 64 bits.
std::optional<std::uint64_t> decimal(const std::string& digits) {
    if (digits.empty() || digits.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

Answer single(Query q, std::uint8_t b) {
    Answer a;
    a.query = q;
    a.byte = b;
    return a;
}

} // namespace

Request realTimeStatusRequest(int n) {
    return {{0x10, 0x04, static_cast<std::uint8_t>(n)}, Query::RealTimeStatus};
}

Request printerStatusRequest(int n) {
    return {{0x1D, 0x72, static_cast<std::uint8_t>(n)}, Query::PrinterStatus};
}

Request printerIdRequest(int n) {
    return {{0x1D, 0x49, static_cast<std::uint8_t>(n)}, n >= 65 ? Query::PrinterInfo : Query::PrinterId};
}

Request graphicsCapacityRequest() {
    return {{0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x30}, Query::GraphicsCapacity};
}
Request graphicsFreeRequest() {
    return {{0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x33}, Query::GraphicsFree};
}
Request graphicsKeysRequest() {
    return {{0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x40, 0x4B, 0x43}, Query::GraphicsKeys};
}
Request graphicsKeysHandshake(std::uint8_t reply) {
    return {{reply}, Query::GraphicsKeys};
}

void ReplyReader::expect(Query query) {
    expected_ = query;
    answer_.reset();
}

void ReplyReader::feed(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        step(b);
}

std::optional<Answer> ReplyReader::takeAnswer() {
    std::optional<Answer> a = std::move(answer_);
    answer_.reset();
    return a;
}

void ReplyReader::answer(Answer a) {
    answer_ = std::move(a);
    expected_ = Query::None;
}

void ReplyReader::step(std::uint8_t b) {
    if (statusFill_ > 0) {
        status_[statusFill_++] = b;
        if (statusFill_ == status_.size()) {
            latestStatus_ = status_;
            ++statusBlocks_;
            statusFill_ = 0;
        }
        return;
    }
    if (inBlock_) return blockByte(b);
    if (b == kXon || b == kXoff) return;
    // An identification byte has no fixed bits: having asked for it, the reader takes the next byte.
    if (expected_ == Query::PrinterId) return answer(single(Query::PrinterId, b));
    if (isStatusBlockStart(b)) {
        status_[0] = b;
        statusFill_ = 1;
        return;
    }
    if (b == kInfoHeader || b == kGraphicsHeader) {
        inBlock_ = true;
        blockHeader_ = b;
        blockId_.reset();
        blockData_.clear();
        blockOverflow_ = false;
        return;
    }
    if (expected_ == Query::RealTimeStatus && (b & 0x93) == 0x12) return answer(single(Query::RealTimeStatus, b));
    if (expected_ == Query::PrinterStatus && (b & 0x90) == 0) return answer(single(Query::PrinterStatus, b));
    ++strayBytes_;
}

void ReplyReader::blockByte(std::uint8_t b) {
    if (blockHeader_ == kGraphicsHeader && !blockId_) {
        blockId_ = b;
        if (b != 0x00) return;
    }
    if (b == 0x00) return finishBlock();
    if (blockData_.size() < kMaxBlockBytes)
        blockData_.push_back(static_cast<char>(b));
    else
        blockOverflow_ = true;
}

void ReplyReader::finishBlock() {
    inBlock_ = false;
    Query q = Query::None;
    if (blockHeader_ == kInfoHeader)
        q = Query::PrinterInfo;
    else if (blockId_ == kCapacityId)
        q = Query::GraphicsCapacity;
    else if (blockId_ == kFreeId)
        q = Query::GraphicsFree;
    else if (blockId_ == kKeysId)
        q = Query::GraphicsKeys;
    if (q == Query::None || q != expected_) {
        ++skippedBlocks_;
        strayBytes_ += 2 + blockData_.size() + (blockId_ ? 1 : 0);
        return;
    }
    Answer a;
    a.query = q;
    a.malformed = blockOverflow_;
    if (q == Query::PrinterInfo) {
        a.text = std::move(blockData_);
    } else if (q != Query::GraphicsKeys) {
        a.text = std::move(blockData_);
        const auto value = decimal(a.text);
        a.malformed = a.malformed || !value;
        a.number = value.value_or(0);
    } else {
        // S, then two bytes 20..7E per key, at most 40 keys.
        const std::string& d = blockData_;
        const bool sizeOk = !d.empty() && d.size() % 2 == 1 && (d.size() - 1) / 2 <= kMaxKeysPerBlock;
        const bool statusOk = !d.empty() && (d[0] == kLastBlock || d[0] == kMoreBlocks);
        bool codesOk = true;
        for (std::size_t i = 1; i < d.size(); ++i)
            codesOk = codesOk && d[i] >= 0x20 && d[i] <= 0x7E;
        a.malformed = a.malformed || !sizeOk || !statusOk || !codesOk;
        if (!a.malformed) {
            a.more = d[0] == kMoreBlocks;
            for (std::size_t i = 1; i + 1 < d.size(); i += 2)
                a.keys.push_back(d.substr(i, 2));
        }
    }
    answer(std::move(a));
}

} // namespace tessera
