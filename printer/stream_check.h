#pragma once
// Tells whether bytes are one whole command stream of a kind the tools save (`nvlogo save` writes them to
// `.bit` and `.txt` files), before they are sent to a printer. The bytes come from outside: every length is
// checked before the bytes it counts are read, and nothing is copied.
//
// A stream belongs to one command family from its first byte to its last. The family is told by the bytes
// that every stream of it begins with; each family then has its own reader of what follows.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera {

enum class StreamFamily {
    // NV bit images: 1B 40 1C 71 n, then n images, each xL xH yL yH and its 8 × x × y data bytes, with
    // x 1..1023 and y 1..288; nothing after the last image.
    BitImage,
    // NV graphics: 1B 40, the delete-all command (left out by an upload that keeps the printer's other keys),
    // then one or more defines, each GS ( L or GS 8 L with function 67: a key of two bytes 20..7E, 1 colour,
    // x 1..8192 and y 1..2304 dots, and ceil(x / 8) × y data bytes; nothing after the last define.
    Graphics,
};

// One NV graphics define of a stream: its key, its size in dots and where its data starts.
struct GraphicsDefine {
    std::string key;
    int width = 0;
    int height = 0;
    std::size_t dataOffset = 0; // ceil(width / 8) × height bytes from here
};

struct StreamSummary {
    StreamFamily family = StreamFamily::BitImage;
    int images = 0;            // the images the stream defines
    std::size_t dataBytes = 0; // their raster bytes, without the size headers
    std::vector<GraphicsDefine> defines; // Graphics: in stream order
};

// The summary of a whole stream. Anything else (an empty stream, an unknown start, a size out of range, a
// stream cut short or followed by more bytes) is a BadInput error whose message begins "at offset N: ",
// N the first byte that does not fit, or the stream's length when it ends too soon.
Result<StreamSummary> checkSavedStream(std::span<const std::uint8_t> bytes);

} // namespace tessera
