#pragma once
// One row of the logo list.

#include <cstdint>
#include <string>

namespace tessera {

// NV data bytes of a bitmap: the width raised to a multiple of 8 times the number of 8-dot bands.
// 100 × 50 gives 104 × 7 = 728. Computed in 64 bits; the list stores it as a 32-bit value.
std::int64_t nvDataSize(int width, int height);

class LogoEntry {
  public:
    LogoEntry() = default;
    LogoEntry(std::string displayName, std::string filePath, int bitsPerPixel, int width, int height);
    virtual ~LogoEntry() = default;
    LogoEntry(const LogoEntry&) = default;
    LogoEntry& operator=(const LogoEntry&) = default;

    std::string displayName;
    std::int32_t nvSize = 0;
    std::string filePath;
    std::int32_t bitsPerPixel = 0;
    std::int32_t height = 0;
    std::int32_t width = 0;
};

} // namespace tessera
