#pragma once
// Reads a receipt printer's answers. Bytes arrive in pieces of any size; the reader, told what the host asked
// last, picks out the answer to it and keeps or skips everything else: automatic status blocks are kept as
// the latest status (never taken as an answer), XON and XOFF are dropped, a block answer nobody asked for is
// skipped whole, and any other byte is counted and dropped. Pure bytes logic: no port, no clock, no thread;
// one reader belongs to one conversation.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessera {

// What the host asked, and so which answer the reader looks for.
enum class Query : std::uint8_t {
    None,             // nothing: every byte is unsolicited
    RealTimeStatus,   // DLE EOT n (10 04 n, n 1..4): one byte, byte & 0x93 == 0x12
    PrinterStatus,    // GS r n (1D 72 n): one byte with bits 4 and 7 clear
    PrinterId,        // GS I n, n 1..3: the next byte, whatever its bits
    PrinterInfo,      // GS I n, n 65..68: 5F, text, 00
    GraphicsCapacity, // 1D 28 4C 02 00 30 30: 37 30, decimal digits, 00
    GraphicsFree,     // 1D 28 4C 02 00 30 33: 37 31, decimal digits, 00
    GraphicsKeys,     // 1D 28 4C 04 00 30 40 4B 43, or ACK / NAK after a block: 37 72, S, key codes, 00
};

// The bytes of a request and the answer they call for.
struct Request {
    std::vector<std::uint8_t> bytes;
    Query query = Query::None;
};

inline constexpr std::uint8_t kAck = 0x06; // the next key-list block (after the last one: done)
inline constexpr std::uint8_t kNak = 0x15; // the same block again
inline constexpr std::uint8_t kCan = 0x18; // no more blocks

Request realTimeStatusRequest(int n); // DLE EOT n, n 1..4
Request printerStatusRequest(int n);  // GS r n
Request printerIdRequest(int n);      // GS I n: n 1..3 a byte, n 65..68 a text (firmware, maker, model, serial)
Request graphicsCapacityRequest();
Request graphicsFreeRequest();
Request graphicsKeysRequest();
// ACK or NAK after a key-list block: both are answered by a block.
Request graphicsKeysHandshake(std::uint8_t reply);

struct Answer {
    Query query = Query::None;
    std::uint8_t byte = 0;         // the one-byte answers
    std::string text;              // PrinterInfo: the text; the capacity queries: the digits
    std::uint64_t number = 0;      // the capacity queries: their value in bytes
    std::vector<std::string> keys; // GraphicsKeys: this block's keys, two characters each
    bool more = false;             // GraphicsKeys: another block follows (S = 41)
    bool malformed = false;        // a block that broke its format: ask again (NAK) or give up
};

class ReplyReader {
  public:
    // Longest data between a block's header and its NUL that is kept; the rest of a longer block is skipped
    // and the block counts as malformed.
    static constexpr std::size_t kMaxBlockBytes = 255;
    static constexpr std::size_t kMaxKeysPerBlock = 40;

    // What the host has just asked. An answer not taken yet is dropped; an automatic status block or a block
    // already under way goes on.
    void expect(Query query);
    // Takes the bytes as they arrived.
    void feed(std::span<const std::uint8_t> bytes);
    // The answer to the expected query once it is complete, handed out once; the reader then expects nothing.
    std::optional<Answer> takeAnswer();

    // The last automatic status block (4 bytes, the first matching byte & 0x93 == 0x10), if any came.
    const std::optional<std::array<std::uint8_t, 4>>& latestStatus() const { return latestStatus_; }
    std::size_t statusBlocks() const { return statusBlocks_; }
    // Bytes that were neither an answer nor a status block nor XON / XOFF, and unasked block answers.
    std::size_t strayBytes() const { return strayBytes_; }
    std::size_t skippedBlocks() const { return skippedBlocks_; }

  private:
    void step(std::uint8_t b);
    void blockByte(std::uint8_t b);
    void finishBlock();
    void answer(Answer a);

    Query expected_ = Query::None;
    std::optional<Answer> answer_;
    std::array<std::uint8_t, 4> status_{};
    std::size_t statusFill_ = 0; // bytes of a status block under way
    std::optional<std::array<std::uint8_t, 4>> latestStatus_;
    std::size_t statusBlocks_ = 0;
    bool inBlock_ = false;
    std::uint8_t blockHeader_ = 0;
    std::optional<std::uint8_t> blockId_; // the byte after 37
    std::string blockData_;
    bool blockOverflow_ = false;
    std::size_t strayBytes_ = 0;
    std::size_t skippedBlocks_ = 0;
};

} // namespace tessera
