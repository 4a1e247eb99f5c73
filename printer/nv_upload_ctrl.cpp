#include "printer/nv_upload_ctrl.h"

#include "base/file_io.h"

namespace tessera {

CNVUploadCtrl::CNVUploadCtrl(const PortSet& ports, PortDispatcher::Sleep sleep)
    : dispatcher_(ports, std::move(sleep)), transport_(dispatcher_) {}
CNVUploadCtrl::CNVUploadCtrl(ByteSink& transport) : dispatcher_(PortSet{}), transport_(transport) {}
CNVUploadCtrl::~CNVUploadCtrl() = default;

NvImageEncoder& CNVUploadCtrl::uploadEncoder() {
    if (!uploadEncoder_) uploadEncoder_ = std::make_unique<NvImageEncoder>();
    return *uploadEncoder_;
}

NvImageEncoder& CNVUploadCtrl::saveEncoder() {
    if (!saveEncoder_) saveEncoder_ = std::make_unique<NvImageEncoder>();
    return *saveEncoder_;
}

int CNVUploadCtrl::result(Status s) {
    if (s) return 1;
    lastError_ = s.error();
    return 0;
}

Result<std::vector<EncodedLogo>> CNVUploadCtrl::prepareUpload(const std::vector<std::string>& logos, int mode,
                                                              int level) {
    auto encoded = encodeLogos(uploadEncoder(), logos, mode, level);
    if (!encoded) lastError_ = encoded.error();
    return encoded;
}

int CNVUploadCtrl::sendLogos(const std::vector<EncodedLogo>& logos) {
    return result(writeLogoDefinitions(transport_, logos));
}

int CNVUploadCtrl::uploadLogos(const std::vector<std::string>& logos, int mode, int level) {
    auto encoded = prepareUpload(logos, mode, level);
    if (!encoded) return 0;
    return sendLogos(*encoded);
}

int CNVUploadCtrl::printNvImages(int first, int last, int quality) {
    return result(writePrintCommands(transport_, first, last, quality));
}

int CNVUploadCtrl::printNvImageList(std::span<const int> images, int quality) {
    return result(writePrintList(transport_, images, quality));
}

int CNVUploadCtrl::eraseNvImages() { return result(writeEraseCommands(transport_)); }

Result<std::vector<std::uint8_t>> CNVUploadCtrl::buildLogoFile(const std::vector<std::string>& logos, int mode,
                                                               int level, int format) {
    if (logos.empty()) return badInput("no logo to save");
    auto encoded = encodeLogos(saveEncoder(), logos, mode, level);
    if (!encoded) return encoded.error();
    return logoFileOf(*encoded, format);
}

Result<std::vector<std::uint8_t>> CNVUploadCtrl::logoFileOf(const std::vector<EncodedLogo>& logos, int format) {
    MemorySink stream;
    if (Status s = writeLogoDefinitions(stream, logos); !s) return s.error();
    return formatLogoFile(stream.bytes, format == HEX ? HEX : BIN);
}

int CNVUploadCtrl::saveLogoFile(const std::string& fileName, const std::vector<std::string>& logos, int mode,
                                int level, int format) {
    if (logos.empty()) {
        lastError_ = badInput("no logo to save");
        return kSaveNoLogo;
    }
    auto bytes = buildLogoFile(logos, mode, level, format);
    if (!bytes) {
        lastError_ = bytes.error();
        return kSaveFailed;
    }
    if (Status s = writeFileAtomically(fileName, *bytes); !s) {
        lastError_ = s.error();
        return kSaveFailed;
    }
    return kSaveWritten;
}

int CNVUploadCtrl::downloadBitFile(const std::string& path) {
    auto bytes = readWholeFileExclusive(path, kMaxDownloadBytes);
    if (!bytes) {
        lastError_ = bytes.error();
        return kDownloadFailed;
    }
    if (bytes->empty()) return 0;
    if (!transport_.write(*bytes)) {
        lastError_ = ioError("the printer did not take the data");
        return kDownloadFailed;
    }
    return 0;
}

} // namespace tessera
