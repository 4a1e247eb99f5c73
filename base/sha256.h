#pragma once
// SHA-256 (FIPS 180-4), for telling whether a printer already holds a stream: the rollout ledger keeps the
// digest of the last stream each printer confirmed.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tessera {

class Sha256 {
  public:
    Sha256();
    // Adds bytes to the message; may be called any number of times.
    void update(std::span<const std::uint8_t> bytes);
    // The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, 32> finish();

  private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes added
};

// The digest of the bytes as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace tessera
