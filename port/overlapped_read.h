#pragma once
// One overlapped read of a Windows device handle, shared by the serial port and the USB printer.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tessera {

// Reads into the buffer from a handle opened with the overlapped flag, giving the read at most timeout: the
// count (0 when nothing came), or nothing when it failed, with "ReadFile: message" in failure. A read still
// under way at the limit is cancelled, and its end waited for, before the call returns.
std::optional<std::size_t> readOverlapped(void* handle, std::span<std::uint8_t> buffer,
                                          std::chrono::milliseconds timeout, std::string& failure);

} // namespace tessera
