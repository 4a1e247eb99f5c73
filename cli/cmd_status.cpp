// nvlogo status: asks each printer how it is, what it is and what its NV graphics memory holds, sending
// nothing but the questions.

#include "cli/commands.h"
#include "cli/fleet.h"
#include "cli/transfer.h"

#include "base/json_writer.h"
#include "printer/nv_operation.h"
#include "printer/printer_status.h"

#include <cstdio>
#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

struct StatusOptions {
    bool json = false;
    PortOptions ports;
};

std::string hex(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string joined(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& item : items)
        s += (s.empty() ? "" : ", ") + item;
    return s;
}

void writeText(std::ostream& out, const std::string& spec, const PrinterStatusReport& r) {
    if (!r.answers) {
        if (!r.failure) out << spec << ": no answer to a status request within 500 ms\n";
        return;
    }
    auto known = [](const std::optional<std::string>& v) { return v ? *v : std::string("unknown"); };
    out << spec << ": " << (r.online ? (*r.online ? "online" : "offline") : "online unknown") << ", paper "
        << known(r.paper) << ", cover " << known(r.cover) << ", "
        << (!r.errors           ? "errors unknown"
            : r.errors->empty() ? "no errors"
                                : "errors: " + joined(*r.errors))
        << '\n';
    std::vector<std::string> identity;
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"maker", &r.maker}, {"model", &r.model}, {"firmware", &r.firmware}, {"serial", &r.serial}};
    for (const auto& [name, value] : texts)
        if (*value) identity.push_back(std::string(name) + " " + **value);
    std::string ids;
    for (const auto& id : r.ids)
        ids += id ? " " + hex(*id) : std::string(" ??");
    identity.push_back("IDs" + ids);
    out << "  " << joined(identity) << '\n';
    out << "  NV graphics: ";
    if (!r.nvGraphics) {
        out << "no answer\n";
        return;
    }
    const auto& g = *r.nvGraphics;
    out << g.capacity << " bytes, " << (g.free ? std::to_string(*g.free) + " free" : "free unknown") << ", "
        << (!g.keys           ? "keys unknown"
            : g.keys->empty() ? "no keys"
                              : "keys " + joined(*g.keys))
        << '\n';
}

int runStatus(const StatusOptions& opt, Context& ctx) {
    if (opt.json && opt.ports.fleet.report == "-")
        return report(ctx, badInput("--report - cannot be combined with --json: both would take standard output"));
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    std::unique_ptr<FleetReportFile> reportFile;
    if (!opt.ports.fleet.report.empty()) {
        auto opened = FleetReportFile::open(opt.ports.fleet.report, ctx.out);
        if (!opened) return report(ctx, opened.error());
        reportFile = std::move(*opened);
    }
    std::vector<std::optional<PrinterStatusReport>> reports(targets->size());
    FleetJob job;
    job.attempt = [&](const PortTarget& target, ProgressMeter*) {
        PrinterStatusReport r = probePrinter(target);
        FleetOutcome o;
        json::Writer object;
        writeStatusJson(object, target.spec, r);
        o.record.status = object.text();
        o.failed = o.retry = !r.answers || r.failure;
        o.record.result = o.failed ? "failed" : "answered";
        if (r.failure)
            o.record.error = withoutPort(target, r.failure->message);
        else if (!r.answers)
            o.record.error = "no answer to a status request within 500 ms";
        reports[static_cast<std::size_t>(&target - targets->data())] = std::move(r);
        return o;
    };
    auto system = makeFleetSystem();
    const int rc = runFleet(ctx, *targets, opt.ports.fleet, job, *system, reportFile.get());

    // In the order given, whenever they finished; printers never asked (Ctrl-C) have nothing to show.
    std::ostream& out = opt.ports.fleet.report == "-" ? ctx.err : ctx.out;
    json::Writer w;
    if (reports.size() > 1) w.beginArray();
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (!reports[i]) continue;
        const PrinterStatusReport& r = *reports[i];
        if (r.failure) ctx.err << "nvlogo: " << r.failure->message << '\n';
        if (opt.json)
            writeStatusJson(w, (*targets)[i].spec, r);
        else
            writeText(out, (*targets)[i].spec, r);
    }
    if (reports.size() > 1) w.endArray();
    if (opt.json) ctx.out << w.text() << '\n';
    return rc;
}

} // namespace

void setupStatus(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<StatusOptions>();
    CLI::App* sub = app.add_subcommand(
        "status", "Ask each printer whether it is online, its paper and cover, its errors, what it is and its "
                  "NV graphics memory; nothing else is sent");
    sub->add_flag("--json", opt->json,
                  "One JSON object per printer (an array for several): port, answers, online, paper, cover, "
                  "errors, maker, model, firmware, serial, nv_graphics");
    addPortOption(*sub, opt->ports);
    sub->footer(
        "Each question is given 500 ms; a printer that does not answer the first is asked nothing "
        "more.\nWith --report each printer's result is \"answered\" or \"failed\", and status the object --json "
        "gives.\nExit status: 0 every printer answered; 1 a printer cannot be reached or did not "
        "answer;\n2 bad input; 130 stopped by Ctrl-C.");
    sub->callback([opt, &ctx] { ctx.exitCode = runStatus(*opt, ctx); });
}

} // namespace tessera::cli
