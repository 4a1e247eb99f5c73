// nvlogo status: asks each printer how it is, what it is and what its NV graphics memory holds, sending
// nothing but the questions.

#include "cli/commands.h"
#include "cli/transfer.h"

#include "base/json_writer.h"
#include "printer/nv_operation.h"
#include "printer/printer_status.h"

#include <cstdio>
#include <memory>
#include <ostream>
#include <thread>

namespace tessera::cli {

namespace {

struct StatusOptions {
    bool json = false;
    PortOptions ports;
};

PrinterStatusReport failed(Error e) {
    PrinterStatusReport r;
    r.failure = std::move(e);
    return r;
}

PrinterStatusReport probe(const PortTarget& target) {
    const std::string& spec = target.spec;
    if (target.kind == PortKind::Parallel)
        return failed(ioError(spec + ": the parallel port cannot read the printer's answers"));
    if (target.kind == PortKind::Driver) return failed(ioError(spec + ": an installed printer passes no answers back"));
    TargetPorts link(target);
    link.omitTrailingBytes();
    if (Status s = link.resolve(); !s) return failed(s.error());
    CNVUploadCtrl ctrl(link.ports());
    if (openPort(ctrl, link.settings()) != 0) {
        const std::string why = link.portError();
        return failed(ioError(spec + ": " + (why.empty() ? "the port cannot be opened" : why)));
    }
    PrinterConversation conversation(ctrl.dispatcher(), ctrl.dispatcher());
    PrinterStatusReport r = queryPrinterStatus(conversation);
    if (r.failure) {
        const std::string why = link.portError();
        r.failure->message = spec + ": " + (why.empty() ? r.failure->message : why);
    }
    ctrl.dispatcher().ClosePort();
    return r;
}

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

void writeJson(json::Writer& w, const std::string& spec, const PrinterStatusReport& r) {
    w.beginObject().key("port").value(spec).key("answers").value(r.answers);
    w.key("online").value(r.online).key("paper").value(r.paper).key("cover").value(r.cover).key("errors");
    if (r.errors) {
        w.beginArray();
        for (const std::string& e : *r.errors)
            w.value(e);
        w.endArray();
    } else {
        w.null();
    }
    w.key("maker").value(r.maker).key("model").value(r.model).key("firmware").value(r.firmware);
    w.key("serial").value(r.serial).key("nv_graphics");
    if (r.nvGraphics) {
        w.beginObject().key("capacity").value(r.nvGraphics->capacity).key("free").value(r.nvGraphics->free);
        w.key("keys");
        if (r.nvGraphics->keys) {
            w.beginArray();
            for (const std::string& k : *r.nvGraphics->keys)
                w.value(k);
            w.endArray();
        } else {
            w.null();
        }
        w.endObject();
    } else {
        w.null();
    }
    w.endObject();
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
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    std::vector<PrinterStatusReport> reports(targets->size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < targets->size(); ++i)
        threads.emplace_back([&, i] { reports[i] = probe((*targets)[i]); });
    for (std::thread& t : threads)
        t.join();

    int rc = kExitOk;
    json::Writer w;
    if (reports.size() > 1) w.beginArray();
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const PrinterStatusReport& r = reports[i];
        if (r.failure) ctx.err << "nvlogo: " << r.failure->message << '\n';
        if (!r.answers || r.failure) rc = kExitFailure;
        if (opt.json)
            writeJson(w, (*targets)[i].spec, r);
        else
            writeText(ctx.out, (*targets)[i].spec, r);
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
    sub->footer("Each question is given 500 ms; a printer that does not answer the first is asked nothing "
                "more.\nExit status: 0 every printer answered; 1 a printer cannot be reached or did not "
                "answer;\n2 bad input.");
    sub->callback([opt, &ctx] { ctx.exitCode = runStatus(*opt, ctx); });
}

} // namespace tessera::cli
