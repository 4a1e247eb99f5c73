#include "printer/nv_command_stream.h"


namespace tessera {

namespace {

Status send(ByteSink& sink, std::span<const std::uint8_t> bytes) {
    if (!sink.write(bytes)) return ioError("the printer did not take the data");
    return {};
}

Status sendPrint(ByteSink& sink, int number, std::uint8_t m) {
    const std::uint8_t cmd[4] = {0x1C, 0x70, static_cast<std::uint8_t>(number & 0xFF), m};
    return send(sink, cmd);
}

constexpr std::uint8_t kCut[4] = {0x1D, 0x56, 0x42, 0x01};

} // namespace

Result<std::vector<EncodedLogo>> encodeLogos(NvImageEncoder& encoder, const std::vector<std::string>& paths,
                                             int mode, int level) {
    if (paths.size() > static_cast<std::size_t>(kMaxLogosPerUpload))
        return badInput(std::to_string(paths.size()) + " logos: one upload holds at most " +
                        std::to_string(kMaxLogosPerUpload));
    std::vector<EncodedLogo> logos;
    logos.reserve(paths.size());
    for (const std::string& path : paths) {
        Status s = encoder.encodeLogoFile(path, mode, level);
        if (!s) {
            // A logo that cannot be read is the list's fault, not the printer's: always bad input.
            Error e = s.error();
            e.kind = ErrorKind::BadInput;
            // decodeBmpFile names the path already; other failures do not.
            if (e.message.rfind(path + ":", 0) == 0) return e;
            return withContext(path, std::move(e));
        }
        EncodedLogo logo;
        logo.path = path;
        logo.xUnits = encoder.paddedWidth() / 8;
        logo.yUnits = encoder.paddedHeight() / 8;
        logo.raster.assign(encoder.raster().begin(), encoder.raster().begin() + encoder.rasterLength());
        logo.halftoneSkipped = encoder.halftoneSkipped();
        logos.push_back(std::move(logo));
    }
    return logos;
}

Status writeLogoDefinitions(ByteSink& sink, const std::vector<EncodedLogo>& logos) {
    if (logos.empty()) return {};
    if (logos.size() > static_cast<std::size_t>(kMaxLogosPerUpload))
        return badInput("one upload holds at most " + std::to_string(kMaxLogosPerUpload) + " logos");
    const std::uint8_t start[5] = {0x1B, 0x40, 0x1C, 0x71, static_cast<std::uint8_t>(logos.size())};
    if (Status s = send(sink, start); !s) return s;
    for (const EncodedLogo& logo : logos) {
        const std::uint8_t size[4] = {static_cast<std::uint8_t>(logo.xUnits & 0xFF),
                                      static_cast<std::uint8_t>(logo.xUnits >> 8),
                                      static_cast<std::uint8_t>(logo.yUnits & 0xFF),
                                      static_cast<std::uint8_t>(logo.yUnits >> 8)};
        if (Status s = send(sink, size); !s) return s;
        sink.pause(kHeaderToDataPause);
        if (!logo.raster.empty())
            if (Status s = send(sink, logo.raster); !s) return s;
    }
    return {};
}

Status writePrintCommands(ByteSink& sink, int first, int last, int quality) {
    const std::uint8_t m = scalingByte(quality);
    if (first == 0 && last == 0) {
        for (int n = 1; n <= 255; ++n)
            if (Status s = sendPrint(sink, n, m); !s) return s;
    } else if (first >= 1 && last >= 1) {
        // 64-bit counter: a last of INT_MAX must end the loop, not overflow it.
        for (long long n = first; n <= last; ++n)
            if (Status s = sendPrint(sink, static_cast<int>(n & 0xFF), m); !s) return s;
    } else if (first == 0) {
        if (Status s = sendPrint(sink, 0, m); !s) return s;
    } else {
        // first ≥ 1 with last ≤ 0, or a negative first: one command with the low byte of first.
        if (Status s = sendPrint(sink, first, m); !s) return s;
    }
    return send(sink, kCut);
}

Status writePrintList(ByteSink& sink, std::span<const int> images, int quality) {
    const std::uint8_t m = scalingByte(quality);
    for (int n : images)
        if (Status s = sendPrint(sink, n, m); !s) return s;
    return send(sink, kCut);
}

Status writeEraseCommands(ByteSink& sink) {
    static constexpr std::uint8_t kErase[2] = {0x1C, 0x65};
    if (Status s = send(sink, kErase); !s) return s;
    if (Status s = sendPrint(sink, 232, 0x30); !s) return s;
    return send(sink, kCut);
}

std::uint8_t scalingByte(int quality) {
    return quality >= 0 && quality <= 3 ? static_cast<std::uint8_t>(0x30 + quality) : 0x30;
}

} // namespace tessera
