#pragma once
// The platform's own words for its error numbers, so that a failure is reported where it happens with the
// call that failed and the system's reason: "connect: Connection refused", "CreateFileA: Access is denied".

#include <string>

namespace tessera {

// The system's message for an error number of this platform (errno on POSIX; a Win32 or Winsock error code
// on Windows), on one line, without a final full stop.
std::string systemMessage(int code);

// "call: message".
std::string systemError(const char* call, int code);

} // namespace tessera
