#pragma once
// Little-endian reads from a buffer of outside bytes that never leave the buffer. A read past the end yields
// zeros and sets a failure flag that stays set (every later read fails too), so a run of header fields can be
// read in one go and checked once. The reader views the bytes; it does not own them.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessera {

class ByteReader {
  public:
    // Starts reading at byte `pos`; a start past the end is a failed reader.
    explicit ByteReader(std::span<const std::uint8_t> data, std::size_t pos = 0) : data_(data), pos_(pos) {
        if (pos > data.size()) fail();
    }

    std::uint8_t u8() {
        const std::span<const std::uint8_t> b = bytes(1);
        return b.empty() ? 0 : b[0];
    }
    std::uint16_t u16() {
        const std::span<const std::uint8_t> b = bytes(2);
        return b.empty() ? 0 : static_cast<std::uint16_t>(b[0] | b[1] << 8);
    }
    std::uint32_t u32() {
        const std::span<const std::uint8_t> b = bytes(4);
        if (b.empty()) return 0;
        return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    // The next n bytes, or an empty span (and the flag set) when fewer are left.
    std::span<const std::uint8_t> bytes(std::size_t n) {
        if (failed_ || n > data_.size() - pos_) {
            fail();
            return {};
        }
        const std::span<const std::uint8_t> out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    // Passes over n bytes, with the same bounds as reading them.
    void skip(std::size_t n) { bytes(n); }

    // Bytes left to read; 0 once the reader has failed.
    std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
    bool failed() const { return failed_; }

  private:
    void fail() {
        failed_ = true;
        pos_ = data_.size();
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace tessera
