#pragma once
// The calling order every printer operation follows: open the printer driver or the port that the
// settings name, run one writer, then close the driver or finish the port. The dialog's handlers and the
// command line both go through it, so a transfer is judged the same way everywhere.

#include "port/port_settings.h"
#include "printer/nv_upload_ctrl.h"

#include <functional>

namespace tessera {

enum class TransferOutcome {
    Done,          // every block written and the transfer finished
    OpenFailed,    // the driver or port could not be opened; nothing was sent
    WriteFailed,   // a writer's block was not taken; the transport was closed all the same
    FinishFailed,  // the blocks were written but the printer did not take the end of the transfer
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Done;
    int openCode = 0; // the open's own result when it failed
    bool ok() const { return outcome == TransferOutcome::Done; }
};

// Sends the writer's stream through the controller's transport. Driver mode: OpenDriver, the writer,
// CloseDriver; a driver that cannot be opened ends the operation before anything is written, so no byte
// can reach the port of an earlier transfer. Port mode: OpenNetworkPort for the port name "TCP/IP",
// OpenPort otherwise, the writer, FinishPort. The writer returns 1 when all its writes were taken.
TransferResult runTransfer(CNVUploadCtrl& ctrl, const PortSettings& settings,
                           const std::function<int(CNVUploadCtrl&)>& writer);

// The port-mode open of runTransfer on its own: OpenNetworkPort for the port name "TCP/IP", OpenPort
// otherwise. Its result (0 opened).
int openPort(CNVUploadCtrl& ctrl, const PortSettings& settings);

} // namespace tessera
