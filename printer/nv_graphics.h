#pragma once
// The bytes of NV graphics: logos stored one at a time under a two-byte key code, each defined, deleted and
// printed on its own. Every command is written with its full length, one sink write per command:
//   upload: 1B 40, delete all (left out when the printer's other keys are kept), one define per logo
//   print:  one print per key, then 1D 56 42 01
//   erase:  delete all, or one delete per key
// A define is GS ( L while its count (11 + the data bytes) fits in 16 bits, GS 8 L with a 32-bit count
// beyond.

#include "base/byte_sink.h"
#include "base/result.h"
#include "printer/nv_image_encoder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// What the printer is allowed for its own records of each key, on top of the data; the virtual printer
// counts the same.
inline constexpr std::size_t kGraphicsRecordBytes = 16;
// Keys "01" .. "99" are given to logos that were given none.
inline constexpr std::size_t kMaxDefaultKeys = 99;

// One logo ready to define: its size in dots and its rows, top first, each ceil(width / 8) bytes, bit 7 the
// leftmost dot, 1 where the printer prints.
struct GraphicsLogo {
    std::string path;
    std::string key; // two bytes, each 20..7E
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;
    bool halftoneSkipped = false; // as EncodedLogo

    // What the logo takes in the printer's NV graphics area: its data and the record allowance.
    std::uint64_t storeBytes() const { return rows.size() + kGraphicsRecordBytes; }
};

// True for two bytes, each 20..7E.
bool validGraphicsKey(std::string_view key);

// A comma-separated key list as the command line takes it: each key its two characters ("A1"), or "x" and
// four hexadecimal digits ("x2C41") for a key that holds a space or a comma. An empty list, an empty item or
// a byte outside 20..7E is BadInput naming the item.
Result<std::vector<std::string>> parseGraphicsKeys(std::string_view list);

// How a key is written back on the command line and in messages: its two characters, or the "x" form when
// it holds a space or a comma.
std::string graphicsKeyText(std::string_view key);
// The key's bytes as four hexadecimal digits ("4131"), safe in a file name.
std::string graphicsKeyHex(std::string_view key);
// Keys joined for a message: "01, 02 and 03".
std::string graphicsKeyList(std::span<const std::string> keys);

// The keys of an upload of this many logos: the given ones in logo order, which must be as many as the logos
// and all different, or "01", "02", … without them (at most 99 logos). Anything else is BadInput.
Result<std::vector<std::string>> keysForLogos(std::size_t logos, const std::vector<std::string>& given);

// Encodes every logo, in order, before anything is sent, each under its key (keys.size() == paths.size()).
// The first logo that cannot be encoded is named in a BadInput error.
Result<std::vector<GraphicsLogo>> encodeGraphicsLogos(NvImageEncoder& encoder, const std::vector<std::string>& paths,
                                                      const std::vector<std::string>& keys, int mode, int level);

// The size of a list in the printer's NV graphics area: the sum of each logo's storeBytes.
std::uint64_t graphicsListBytes(std::span<const GraphicsLogo> logos);

// The define command of one logo, data included.
std::vector<std::uint8_t> graphicsDefineCommand(const GraphicsLogo& logo);

// ESC @, delete all unless keep, and one define per logo. Stops at the first failed write.
Status writeGraphicsDefinitions(ByteSink& sink, std::span<const GraphicsLogo> logos, bool keep);
// The bytes writeGraphicsDefinitions sends.
std::uint64_t graphicsDefinitionBytes(std::span<const GraphicsLogo> logos, bool keep);

// One print per key at the scale (0 single, 1 double-wide, 2 double-high, 3 double), then the cut.
Status writeGraphicsPrints(ByteSink& sink, std::span<const std::string> keys, int scale);

// Delete all when keys is empty, else one delete per key.
Status writeGraphicsErase(ByteSink& sink, std::span<const std::string> keys);

} // namespace tessera
