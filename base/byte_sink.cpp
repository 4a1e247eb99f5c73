#include "base/byte_sink.h"

#include <thread>

namespace tessera {

void ByteSink::pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

bool MemorySink::write(std::span<const std::uint8_t> data) {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
}

void MemorySink::pause(std::chrono::milliseconds) { pauseOffsets.push_back(bytes.size()); }

} // namespace tessera
