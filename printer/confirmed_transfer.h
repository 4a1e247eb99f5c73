#pragma once
// A transfer the printer itself confirms. Before the stream the printer is asked whether it is online (and,
// for a printout, whether paper and cover allow printing); after it, a request that the printer answers only
// once it has processed every byte before it. A printer that cannot answer (no way back, or silent) is still
// sent the stream unless confirmation is required; one that answers and then falls silent, or reports an
// error, fails the transfer.
//
// The steps are one function so that every command, and every printer family, is judged the same way: a
// family whose stored data can be asked for passes its own check after the stream (StreamCheck).

#include "base/result.h"
#include "port/port_settings.h"
#include "printer/nv_upload_ctrl.h"
#include "printer/printer_conversation.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tessera {

enum class ConfirmMode {
    Off,      // the stream and the finishing bytes only, exactly as an unconfirmed transfer
    Auto,     // confirm where the printer can answer; say so where it cannot
    Required, // send nothing to a printer that cannot answer
};

enum class TransferResultKind {
    Confirmed,    // the printer said it processed every byte
    NotConfirmed, // every byte was taken, but the printer could not, or was not asked to, say more
    Failed,       // the port, the printer or its answers say the transfer did not happen as sent
};

// "confirmed", "not-confirmed" or "failed": the words of reports meant for scripts.
const char* resultName(TransferResultKind kind);

// What became of one transfer to one printer.
struct TransferReport {
    TransferResultKind kind = TransferResultKind::Failed;
    // Bytes of the stream the port took: neither the status requests nor the finishing bytes.
    std::uint64_t streamBytes = 0;
    // The stream's first block was handed to the port, so a retry would send part of it a second time.
    bool streamStarted = false;
    // NotConfirmed: why (empty when confirmation was off); Failed: what failed, one line without the port's
    // name ("the printer is offline: the cover is open"); Confirmed: empty.
    std::string message;
    // Failed before anything was sent because the printer's own answers rule the transfer out (too little
    // room, no key list to print from): sending again cannot help.
    bool refused = false;
    // What was done, where the preflight chose it ("uploaded 3 logos as NV graphics"); empty: as planned.
    std::string verb;
};

// Asks, after the stream, whether the printer processed it: true answered, false no answer within bound, an
// Io error when the port failed, a BadInput error when the printer answered and its answer says the stream
// was not stored as sent (the message says how). The bound starts once the request has left the host.
using StreamCheck = std::function<Result<bool>(PrinterConversation&, std::chrono::milliseconds bound)>;

// The check of the NV bit-image family: GS r 1 (paper sensor status), which a printer answers in order, after
// everything sent before it.
Result<bool> askPrinterStatus(PrinterConversation& conversation, std::chrono::milliseconds bound);

// What the preflight decided for one printer that answered online.
struct PreflightVerdict {
    // Non-empty: nothing is sent and the transfer fails, refused, with this line.
    std::string refusal;
    // Non-null: sent in place of the writer runConfirmedTransfer was given, and checked with this check.
    std::function<int(CNVUploadCtrl&)> writer;
    StreamCheck check;
    std::string verb; // copied to the report
};

// Asks the printer what the transfer depends on (its free room, its stored keys) before the stream. An Io
// error when the port failed.
using Preflight = std::function<Result<PreflightVerdict>(PrinterConversation&, std::chrono::milliseconds bound)>;

struct ConfirmOptions {
    ConfirmMode mode = ConfirmMode::Auto;
    // A printout: the paper must not be at its end, nor the cover open, before anything is sent.
    bool checkPaper = false;
    // The port as the user named it, for "LPT1 cannot carry the printer's answers".
    std::string portName;
    // Null: askPrinterStatus.
    StreamCheck check;
    // Run once the printer answered online, before anything else is sent; null: none.
    Preflight preflight;
    // Non-empty: the transfer cannot be made without the printer's answers, and a printer that cannot give
    // them is sent nothing: the transfer fails, refused, with this line.
    std::string needsAnswers;
};

// How long the printer is given to confirm a stream of this many bytes, counted from its last byte leaving
// the host: 5 s plus 1 s per 10 KB (10240 bytes), rounded up to the millisecond. Writing NV memory takes
// seconds.
std::chrono::milliseconds confirmationBound(std::uint64_t streamBytes);

// The waits for the real-time status answers before the stream and after an unconfirmed one.
inline constexpr std::chrono::milliseconds kStatusAnswerBound{500};

// Opens the transport the settings name, runs the writer's stream and ends the transfer, with the requests
// and checks of the mode:
//  - Off, or Auto without a way back (parallel port, installed printer): exactly runTransfer.
//  - Otherwise DLE EOT 1 first. Unanswered: Required fails with nothing more sent; Auto sends the stream
//    and the finishing bytes and reports NotConfirmed. Offline: DLE EOT 2 and 3 name the cause and nothing
//    more is sent. For a printout DLE EOT 2 and 4 then stop it when the paper is at its end or the cover
//    is open.
//  - Then the preflight, which may refuse the transfer or choose its stream.
//  - After the stream the check (GS r 1) within confirmationBound, then the finishing bytes: Confirmed.
//    Unanswered: DLE EOT 1 and 3 once, and the printer's error, or its silence, fails the transfer; a
//    silent printer is closed without the finishing bytes it would no longer read.
// A port that fails at any step fails the transfer, naming the failed call where the port knows it.
TransferReport runConfirmedTransfer(CNVUploadCtrl& ctrl, const PortSettings& settings,
                                    const std::function<int(CNVUploadCtrl&)>& writer, const ConfirmOptions& options);

} // namespace tessera
