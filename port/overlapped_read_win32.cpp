#include "port/overlapped_read.h"

#include "base/unique_handle_win32.h"
#include "port/system_error.h"

#include <algorithm>

#include <windows.h>

namespace tessera {

std::optional<std::size_t> readOverlapped(void* handle, std::span<std::uint8_t> buffer,
                                          std::chrono::milliseconds timeout, std::string& failure) {
    UniqueKernelHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        failure = systemError("CreateEventA", static_cast<int>(::GetLastError()));
        return std::nullopt;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD got = 0;
    std::optional<std::size_t> result;
    const auto length = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0x7FFFFFFF));
    if (::ReadFile(handle, buffer.data(), length, &got, &overlapped)) {
        result = got;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
        failure = systemError("ReadFile", static_cast<int>(error));
    } else {
        // The record and the buffer stay the driver's until the read has ended, cancelled or not.
        const auto wait = static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, 0x7FFFFFFF));
        if (::WaitForSingleObject(event.get(), wait) != WAIT_OBJECT_0) ::CancelIo(handle);
        if (::GetOverlappedResult(handle, &overlapped, &got, TRUE))
            result = got;
        else if (const DWORD e = ::GetLastError(); e == ERROR_OPERATION_ABORTED)
            result = got;
        else
            failure = systemError("ReadFile", static_cast<int>(e));
    }
    return result;
}

} // namespace tessera
