#include "printer/confirmed_transfer.h"

#include "printer/nv_operation.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace tessera {

namespace {

using std::chrono::milliseconds;
using Kind = TransferResultKind;

bool bit(std::uint8_t b, int n) {
    return (b >> n) & 1;
}

// "a", "a and b", "a, b and c".
std::string joined(const std::vector<std::string>& parts) {
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i)
        s += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return s;
}

// The error status (DLE EOT 3) in words.
std::vector<std::string> errorWords(std::uint8_t errors) {
    std::vector<std::string> words;
    const std::pair<int, const char*> bits[] = {{2, "a mechanical error"},
                                                {3, "a cutter error"},
                                                {5, "an unrecoverable error"},
                                                {6, "an auto-recoverable error"}};
    for (const auto& [n, word] : bits)
        if (bit(errors, n)) words.push_back(word);
    return words;
}

// The parallel port and the spooler have no way back for the printer's answers.
bool hasReadPath(const PortSettings& s) {
    return !s.useDriver && s.portName.rfind("LPT", 0) != 0;
}

// One line for a transfer that did not go through, in the port's own words where it has them.
std::string failureText(TransferOutcome outcome, CNVUploadCtrl& ctrl, const PortSettings& settings) {
    const std::string why = ctrl.dispatcher().portError();
    switch (outcome) {
    case TransferOutcome::OpenFailed:
        if (settings.useDriver && why.empty())
            return "cannot send to the installed printer (no such printer, or it is stopped or refuses jobs)";
        return why.empty() ? "the port cannot be opened" : why;
    case TransferOutcome::WriteFailed:
        if (!why.empty()) return "transfer failed: " + why;
        return "transfer failed: " + (ctrl.lastError().message.empty()
                                          ? std::string("the printer did not take the data")
                                          : ctrl.lastError().message);
    case TransferOutcome::FinishFailed:
        return std::string(ctrl.dispatcher().currentKind() == PortKind::Network
                               ? "the printer did not take the whole transfer"
                               : "the printer did not take the end of the transfer") +
               (why.empty() ? "" : " (" + why + ")");
    case TransferOutcome::Done:
        break;
    }
    return {};
}

class Confirmation {
  public:
    Confirmation(CNVUploadCtrl& ctrl, const PortSettings& settings, const std::function<int(CNVUploadCtrl&)>& writer,
                 const ConfirmOptions& options)
        : ctrl_(ctrl), port_(ctrl.dispatcher()), settings_(settings), writer_(writer), options_(options),
          conversation_(port_, port_) {}

    TransferReport run();

  private:
    TransferReport unconfirmed();
    std::optional<std::string> refusal();
    TransferReport afterStream();
    std::string followUp(std::uint8_t online, const std::string& after);

    // The answer byte of DLE EOT n; nothing when none came; an error when the port failed.
    Result<std::optional<std::uint8_t>> realTimeStatus(int n) {
        auto a = conversation_.ask(realTimeStatusRequest(n), kStatusAnswerBound);
        if (!a) return a.error();
        if (!*a) return std::optional<std::uint8_t>();
        return std::optional<std::uint8_t>((*a)->byte);
    }
    // Only what answered, for naming causes: a port failure there changes nothing about the outcome.
    std::optional<std::uint8_t> answerOf(int n) {
        auto a = realTimeStatus(n);
        return a ? *a : std::nullopt;
    }
    int stream() {
        report_.streamStarted = true;
        const std::uint64_t before = port_.bytesTaken();
        const int written = chosen_ ? chosen_(ctrl_) : writer_(ctrl_);
        report_.streamBytes = port_.bytesTaken() - before;
        return written;
    }
    // What is done with the port as the transfer fails: the finishing bytes for a printer that still reads,
    // a plain close for one that does not, nothing for a port already closed.
    enum class End { Finish, Close, Leave };
    TransferReport refuse(std::string message, End end) {
        report_.refused = true;
        return fail(std::move(message), end);
    }
    TransferReport fail(std::string message, End end) {
        if (end == End::Finish)
            ctrl_.FinishPort();
        else if (end == End::Close)
            port_.ClosePort();
        report_.kind = Kind::Failed;
        report_.message = std::move(message);
        return report_;
    }
    std::string portWhy(const Error& e) const {
        const std::string why = port_.portError();
        return why.empty() ? e.message : why;
    }

    CNVUploadCtrl& ctrl_;
    PortDispatcher& port_;
    const PortSettings& settings_;
    const std::function<int(CNVUploadCtrl&)>& writer_;
    const ConfirmOptions& options_;
    PrinterConversation conversation_;
    TransferReport report_;
    std::function<int(CNVUploadCtrl&)> chosen_; // the preflight's writer
    StreamCheck chosenCheck_;
};

constexpr const char* kNoAnswer = "the printer does not answer status requests";
constexpr const char* kRequired = "nothing sent, --confirm required: ";

TransferReport Confirmation::run() {
    const bool canRead = hasReadPath(settings_);
    if (!options_.needsAnswers.empty() && (options_.mode == ConfirmMode::Off || !canRead))
        return refuse(options_.needsAnswers, End::Leave);
    if (options_.mode == ConfirmMode::Off || (!canRead && options_.mode == ConfirmMode::Auto)) {
        const TransferResult r = runTransfer(ctrl_, settings_, [this](CNVUploadCtrl&) { return stream(); });
        if (!r.ok()) return fail(failureText(r.outcome, ctrl_, settings_), End::Leave);
        report_.kind = Kind::NotConfirmed;
        if (options_.mode == ConfirmMode::Auto)
            report_.message = options_.portName + " cannot carry the printer's answers";
        return report_;
    }
    if (!canRead) {
        report_.message = kRequired + options_.portName + " cannot carry the printer's answers";
        return report_;
    }
    if (openPort(ctrl_, settings_) != 0) {
        report_.message = failureText(TransferOutcome::OpenFailed, ctrl_, settings_);
        return report_;
    }
    auto online = realTimeStatus(1);
    if (!online) return fail(portWhy(online.error()), End::Close);
    if (!*online) {
        if (options_.mode == ConfirmMode::Required) return fail(kRequired + std::string(kNoAnswer), End::Close);
        if (!options_.needsAnswers.empty()) return refuse(options_.needsAnswers, End::Close);
        return unconfirmed();
    }
    if (bit(**online, 3)) {
        std::vector<std::string> causes;
        if (const auto offline = answerOf(2)) {
            if (bit(*offline, 2)) causes.push_back("the cover is open");
            if (bit(*offline, 3)) causes.push_back("paper is being fed with the feed button");
            if (bit(*offline, 5)) causes.push_back("the paper is at its end");
        }
        if (const auto errors = answerOf(3); errors && !errorWords(*errors).empty())
            causes.push_back("it reports " + joined(errorWords(*errors)));
        return fail("the printer is offline" + (causes.empty() ? "" : ": " + joined(causes)), End::Close);
    }
    if (auto refused = refusal()) return fail(*refused, End::Close);
    if (options_.preflight) {
        auto verdict = options_.preflight(conversation_, kStatusAnswerBound);
        if (!verdict) return fail(portWhy(verdict.error()), End::Close);
        if (!verdict->refusal.empty()) return refuse(verdict->refusal, End::Close);
        chosen_ = std::move(verdict->writer);
        chosenCheck_ = std::move(verdict->check);
        report_.verb = std::move(verdict->verb);
    }
    // The first failure is named, before the finishing bytes can fail in their turn.
    if (!stream()) return fail(failureText(TransferOutcome::WriteFailed, ctrl_, settings_), End::Finish);
    return afterStream();
}

// A printer that does not answer is sent what an unconfirmed transfer sends.
TransferReport Confirmation::unconfirmed() {
    const int written = stream();
    const int finished = ctrl_.FinishPort();
    report_.kind = Kind::Failed;
    if (!written)
        report_.message = failureText(TransferOutcome::WriteFailed, ctrl_, settings_);
    else if (finished != 0)
        report_.message = failureText(TransferOutcome::FinishFailed, ctrl_, settings_);
    else {
        report_.kind = Kind::NotConfirmed;
        report_.message = kNoAnswer;
    }
    return report_;
}

// Why a printout must not start: paper and cover as DLE EOT 2 and 4 tell them.
std::optional<std::string> Confirmation::refusal() {
    if (!options_.checkPaper) return std::nullopt;
    std::vector<std::string> causes;
    const auto offline = answerOf(2);
    if (offline && bit(*offline, 2)) causes.push_back("the cover is open");
    const auto paper = answerOf(4);
    if ((offline && bit(*offline, 5)) || (paper && (bit(*paper, 5) || bit(*paper, 6))))
        causes.push_back("the paper is at its end");
    if (causes.empty()) return std::nullopt;
    return "nothing printed: " + joined(causes);
}

TransferReport Confirmation::afterStream() {
    const milliseconds bound = confirmationBound(report_.streamBytes);
    const std::string after = " after " + std::to_string(report_.streamBytes) + " bytes";
    const StreamCheck& check = chosenCheck_     ? chosenCheck_
                               : options_.check ? options_.check
                                                : StreamCheck(askPrinterStatus);
    auto confirmed = check(conversation_, bound);
    if (!confirmed && confirmed.error().kind == ErrorKind::BadInput)
        return fail(confirmed.error().message + after, End::Finish);
    if (!confirmed) return fail("transfer failed" + after + ": " + portWhy(confirmed.error()), End::Close);
    if (!*confirmed) {
        // A printer that no longer reads would not take the finishing bytes either.
        const auto online = answerOf(1);
        if (!online) return fail("the printer stopped answering" + after, End::Close);
        return fail(followUp(*online, after), End::Finish);
    }
    if (ctrl_.FinishPort() != 0) return fail(failureText(TransferOutcome::FinishFailed, ctrl_, settings_), End::Leave);
    report_.kind = Kind::Confirmed;
    return report_;
}

// What a printer that still answers, but did not confirm, says of itself.
std::string Confirmation::followUp(std::uint8_t online, const std::string& after) {
    if (const auto errors = answerOf(3); errors && !errorWords(*errors).empty())
        return "the printer reports " + joined(errorWords(*errors)) + after;
    if (bit(online, 3)) return "the printer went offline" + after;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  static_cast<double>(confirmationBound(report_.streamBytes).count()) / 1000);
    return "the printer did not confirm the transfer within " + std::string(seconds) + after;
}

} // namespace

const char* resultName(TransferResultKind kind) {
    switch (kind) {
    case Kind::Confirmed:
        return "confirmed";
    case Kind::NotConfirmed:
        return "not-confirmed";
    case Kind::Failed:
        break;
    }
    return "failed";
}

Result<bool> askPrinterStatus(PrinterConversation& conversation, milliseconds bound) {
    auto a = conversation.ask(printerStatusRequest(1), bound);
    if (!a) return a.error();
    return a->has_value();
}

milliseconds confirmationBound(std::uint64_t streamBytes) {
    return milliseconds(5000 + (streamBytes * 1000 + 10239) / 10240);
}

TransferReport runConfirmedTransfer(CNVUploadCtrl& ctrl, const PortSettings& settings,
                                    const std::function<int(CNVUploadCtrl&)>& writer, const ConfirmOptions& options) {
    return Confirmation(ctrl, settings, writer, options).run();
}

} // namespace tessera
