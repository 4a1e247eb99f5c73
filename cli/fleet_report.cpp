#include "cli/fleet_report.h"

#include "base/json_writer.h"

#include <ostream>

namespace tessera::cli {

std::string reportLine(const PortTarget& target, const FleetRecord& r) {
    json::Writer w;
    w.beginObject().key("port").value(target.spec).key("name").value(target.name).key("result").value(r.result);
    w.key("bytes").value(r.bytes).key("milliseconds").value(r.milliseconds);
    w.key("attempts").value(static_cast<std::uint64_t>(r.attempts)).key("error").value(r.error).key("status");
    if (r.status)
        w.raw(*r.status);
    else
        w.null();
    for (const auto& [name, json] : r.extra)
        w.key(name).raw(json);
    w.endObject();
    return w.text();
}

FleetReportFile::FleetReportFile(std::string path, std::ostream& standardOutput)
    : path_(std::move(path)), out_(&standardOutput) {}

Result<std::unique_ptr<FleetReportFile>> FleetReportFile::open(const std::string& path, std::ostream& standardOutput) {
    std::unique_ptr<FleetReportFile> report(new FleetReportFile(path, standardOutput));
    if (path != "-") {
        report->file_.open(path, std::ios::binary | std::ios::trunc);
        if (!report->file_) return badInput(path + ": the report cannot be written there");
        report->out_ = &report->file_;
    }
    return report;
}

void FleetReportFile::write(const PortTarget& target, const FleetRecord& record) {
    const std::string line = reportLine(target, record) + "\n";
    std::lock_guard lock(mutex_);
    out_->write(line.data(), static_cast<std::streamsize>(line.size()));
    out_->flush();
}

Status FleetReportFile::status() {
    std::lock_guard lock(mutex_);
    if (!*out_)
        return ioError((path_ == "-" ? std::string("standard output") : path_) + ": the report could not be written");
    return {};
}

} // namespace tessera::cli
