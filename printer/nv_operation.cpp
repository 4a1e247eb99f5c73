#include "printer/nv_operation.h"

namespace tessera {

int openPort(CNVUploadCtrl& ctrl, const PortSettings& settings) {
    if (settings.portName == "TCP/IP") return ctrl.OpenNetworkPort(settings.ipAddress, settings.tcpPort);
    return ctrl.OpenPort(settings.portName, settings.baudCode, settings.bitLengthIndex, settings.parityIndex,
                         settings.stopBitIndex, settings.handshakeIndex);
}

TransferResult runTransfer(CNVUploadCtrl& ctrl, const PortSettings& settings,
                           const std::function<int(CNVUploadCtrl&)>& writer) {
    if (settings.useDriver) {
        if (ctrl.OpenDriver(settings.printerName) != 1) return {TransferOutcome::OpenFailed, 0};
        const int written = writer(ctrl);
        const int closed = ctrl.CloseDriver();
        if (!written) return {TransferOutcome::WriteFailed, 0};
        // The spooler takes the job at the end of the document: a document that cannot be ended was not printed.
        if (closed != 1) return {TransferOutcome::FinishFailed, 0};
        return {};
    }
    const int open = openPort(ctrl, settings);
    if (open != 0) return {TransferOutcome::OpenFailed, open};
    const int written = writer(ctrl);
    const int finished = ctrl.FinishPort();
    if (!written) return {TransferOutcome::WriteFailed, 0};
    if (finished != 0) return {TransferOutcome::FinishFailed, 0};
    return {};
}

} // namespace tessera
