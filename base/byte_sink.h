#pragma once
// Where the command writers put their bytes: the port dispatcher, a file, a buffer in a test.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessera {

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Takes the whole block or fails; false stops the writer.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // The pause the upload makes between an image header and its raster, which gives the printer time to
    // prepare its NV area. A sink that stores the stream (a file) skips it.
    virtual void pause(std::chrono::milliseconds duration);
};

// Collects the stream in memory; pauses are not taken, only recorded.
class MemorySink : public ByteSink {
  public:
    bool write(std::span<const std::uint8_t> bytes) override;
    void pause(std::chrono::milliseconds duration) override;

    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> pauseOffsets; // stream offset at each pause
};

} // namespace tessera
