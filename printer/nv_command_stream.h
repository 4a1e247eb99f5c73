#pragma once
// The bytes that store logos in the printer's NV bit-image memory, erase it and print the stored logos.
// Every command is written with its full length, one sink write per command or block, in this order:
//   upload: 1B 40 1C 71 n, then per logo xL xH yL yH, a 50 ms pause, the raster
//   print:  1C 70 n m per image, then 1D 56 42 01
//   erase:  1C 65, 1C 70 E8 30, 1D 56 42 01

#include "base/byte_sink.h"
#include "base/result.h"
#include "printer/nv_image_encoder.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera {

inline constexpr int kMaxLogosPerUpload = 255;
inline constexpr std::chrono::milliseconds kHeaderToDataPause{50};

// One logo ready to send: its size in units of 8 dots and its raster (8 × x × y bytes).
struct EncodedLogo {
    std::string path;
    int xUnits = 0;
    int yUnits = 0;
    std::vector<std::uint8_t> raster;
    bool halftoneSkipped = false; // drawn on white: the mode and level did not apply (NvImageEncoder)

    // NV bytes the printer spends on it: the raster plus its 4 size bytes.
    std::size_t nvBytes() const { return raster.size() + 4; }
};

// Encodes every logo, in order, before anything is sent: an upload either has all its logos or does not
// start. Refuses more than 255 logos and names the file and the reason of the first that cannot be encoded.
Result<std::vector<EncodedLogo>> encodeLogos(NvImageEncoder& encoder, const std::vector<std::string>& paths,
                                             int mode, int level);

// ESC @ and FS q with every logo. Nothing is written for an empty list. Stops at the first failed write.
Status writeLogoDefinitions(ByteSink& sink, const std::vector<EncodedLogo>& logos);

// FS p for the printing range, then the cut. first/last as the range reading gives them: (0, 0) prints
// every image number 1..255; a range prints first..last (none if first > last); a single number or a
// negative one prints that number's low byte.
Status writePrintCommands(ByteSink& sink, int first, int last, int quality);

// FS p for each image number 1..255 in the given order, then the cut.
Status writePrintList(ByteSink& sink, std::span<const int> images, int quality);

// FS e, an FS p of an image that no longer exists, and the cut.
Status writeEraseCommands(ByteSink& sink);

// The FS p scaling byte of a print quality 0..3; any other value gives the normal scaling.
std::uint8_t scalingByte(int quality);

} // namespace tessera
