#pragma once
// The upload controller: the writers (upload, print, erase, save, download) and the transport operations
// of its port dispatcher. The writers expect the transport to be open and leave it open; the caller opens
// it before and finishes or closes it after, in this order: OpenDriver … CloseDriver, or OpenPort /
// OpenNetworkPort … FinishPort.
//
// Results are the integers the callers test: uploadLogos, printNvImages and eraseNvImages give 1 for
// success and 0 for failure; saveLogoFile 0 when written, 2 for an empty list, 1 when it failed;
// downloadBitFile 0 when sent and −4 when not. lastError() says why the last failure happened.

#include "base/result.h"
#include "port/port_dispatcher.h"
#include "printer/logo_files.h"
#include "printer/nv_command_stream.h"
#include "printer/nv_image_encoder.h"

#include <memory>
#include <string>
#include <vector>

namespace tessera {

class CNVUploadCtrl {
  public:
    // The writers go through a dispatcher over these port objects (owned by the caller, outliving the
    // controller).
    explicit CNVUploadCtrl(const PortSet& ports, PortDispatcher::Sleep sleep = {});
    // The writers go straight to the sink (a buffer, or nothing at all for saving); the transport
    // operations then have no ports to open.
    explicit CNVUploadCtrl(ByteSink& transport);
    ~CNVUploadCtrl();
    CNVUploadCtrl(const CNVUploadCtrl&) = delete;
    CNVUploadCtrl& operator=(const CNVUploadCtrl&) = delete;

    // The transport operations (see port/port_dispatcher.h).
    int OpenDriver(const std::string& printerName) { return dispatcher_.OpenDriver(printerName); }
    int CloseDriver() { return dispatcher_.CloseDriver(); }
    int OpenPort(const std::string& portName, int baudCode, int bitLengthIndex, int parityIndex, int stopBitIndex,
                 int handshakeIndex) {
        return dispatcher_.OpenPort(portName, baudCode, bitLengthIndex, parityIndex, stopBitIndex, handshakeIndex);
    }
    int OpenNetworkPort(const std::string& ipAddress, int tcpPort) {
        return dispatcher_.OpenNetworkPort(ipAddress, tcpPort);
    }
    int SendBytes(const std::uint8_t* bytes, std::size_t count) { return dispatcher_.SendBytes(bytes, count); }
    int FinishPort() { return dispatcher_.FinishPort(); }
    PortDispatcher& dispatcher() { return dispatcher_; }

    // Encodes every logo with the upload encoder, for a caller that must know before opening a port that
    // the whole list can be sent.
    Result<std::vector<EncodedLogo>> prepareUpload(const std::vector<std::string>& logos, int mode, int level);
    // Sends logos prepared by prepareUpload.
    int sendLogos(const std::vector<EncodedLogo>& logos);
    // prepareUpload and sendLogos: nothing is written unless every logo could be encoded.
    int uploadLogos(const std::vector<std::string>& logos, int mode, int level);
    int printNvImages(int first, int last, int quality);
    // FS p for each image number in the given order, then the cut.
    int printNvImageList(std::span<const int> images, int quality);
    int eraseNvImages();

    // The bytes saveLogoFile writes, made with the save encoder. An empty list is a BadInput error.
    Result<std::vector<std::uint8_t>> buildLogoFile(const std::vector<std::string>& logos, int mode, int level,
                                                    int format);
    // The bytes of a file of logos already encoded (prepareUpload); none for an empty list.
    static Result<std::vector<std::uint8_t>> logoFileOf(const std::vector<EncodedLogo>& logos, int format);
    // Writes the file all at once: a failure leaves no partial file and an existing file untouched.
    int saveLogoFile(const std::string& fileName, const std::vector<std::string>& logos, int mode, int level,
                     int format);
    // Sends a stored file unchanged, in one write; the file is read whole first and opened without sharing.
    int downloadBitFile(const std::string& path);

    const Error& lastError() const { return lastError_; }

    static constexpr int kSaveWritten = 0;
    static constexpr int kSaveFailed = 1;
    static constexpr int kSaveNoLogo = 2;
    static constexpr int kDownloadFailed = -4;
    static constexpr std::size_t kMaxDownloadBytes = std::size_t{256} << 20;

  private:
    int result(Status s);
    NvImageEncoder& uploadEncoder();
    NvImageEncoder& saveEncoder();

    PortDispatcher dispatcher_;
    ByteSink& transport_;
    // Created on first use and kept, as each writer that converts owns its own encoder.
    std::unique_ptr<NvImageEncoder> uploadEncoder_;
    std::unique_ptr<NvImageEncoder> saveEncoder_;
    Error lastError_;
};

} // namespace tessera
