// The installed printers on Linux are CUPS queues; a transfer is one raw job.
//
// libcups is opened at first use, not linked: it pulls in some thirty libraries (TLS, Kerberos, service
// discovery, D-Bus) whose loading would cost every start of nvlogo, while only the printer-driver path and the
// printer list need it.

#include "port/system_spooler.h"

#include "port/runtime_library.h"

#include <cups/cups.h>

#include <cstdlib>

namespace tessera {

namespace {

constexpr const char* kCupsLibrary = "libcups.so.2";

// The entry points this file calls, with the types of the headers, so that a mismatch fails to compile.
struct CupsApi {
    decltype(&cupsGetDests2) getDests2 = nullptr;
    decltype(&cupsFreeDests) freeDests = nullptr;
    decltype(&cupsGetDest) getDest = nullptr;
    decltype(&cupsGetOption) getOption = nullptr;
    decltype(&cupsCreateJob) createJob = nullptr;
    decltype(&cupsStartDocument) startDocument = nullptr;
    decltype(&cupsCancelJob2) cancelJob2 = nullptr;
    decltype(&cupsWriteRequestData) writeRequestData = nullptr;
    decltype(&cupsFinishDocument) finishDocument = nullptr;
    std::string error; // empty when every entry point was found
};

CupsApi loadCups() {
    CupsApi api;
    RuntimeLibrary cups(kCupsLibrary, "CUPS library", "installed printers need it (Debian package libcups2)");
    cups.bind("cupsGetDests2", api.getDests2)
        .bind("cupsFreeDests", api.freeDests)
        .bind("cupsGetDest", api.getDest)
        .bind("cupsGetOption", api.getOption)
        .bind("cupsCreateJob", api.createJob)
        .bind("cupsStartDocument", api.startDocument)
        .bind("cupsCancelJob2", api.cancelJob2)
        .bind("cupsWriteRequestData", api.writeRequestData)
        .bind("cupsFinishDocument", api.finishDocument);
    api.error = cups.error();
    return api;
}

// Loaded once, by whichever thread comes first; transfers to several printers may run at once.
const CupsApi& cupsApi() {
    static const CupsApi api = loadCups();
    return api;
}

// The entry points, or null when the library is missing.
const CupsApi* cups() {
    return cupsApi().error.empty() ? &cupsApi() : nullptr;
}

// A queue's state as the scheduler reports it: 3 idle, 4 printing, 5 stopped.
constexpr int kStopped = 5;

struct Destinations {
    const CupsApi& api;
    int count = 0;
    cups_dest_t* list = nullptr;
    explicit Destinations(const CupsApi& a) : api(a) { count = api.getDests2(CUPS_HTTP_DEFAULT, &list); }
    ~Destinations() { api.freeDests(count, list); }
    Destinations(const Destinations&) = delete;
    Destinations& operator=(const Destinations&) = delete;
};

struct Job {
    std::string printer;
    std::string document;
    int id = 0;
};

} // namespace

std::string spoolerUnavailable() {
    return cupsApi().error;
}

SystemSpooler::~SystemSpooler() { closePrinter(); }

bool SystemSpooler::openPrinter(const std::string& printerName) {
    closePrinter();
    const CupsApi* api = cups();
    error_ = api ? std::string() : cupsApi().error;
    if (!api) return false;
    Destinations dests(*api);
    cups_dest_t* dest = api->getDest(printerName.c_str(), nullptr, dests.count, dests.list);
    if (!dest) return false;
    // A stopped queue would keep the job and report success; the printer would get nothing.
    const char* state = api->getOption("printer-state", dest->num_options, dest->options);
    if (state && std::atoi(state) == kStopped) return false;
    const char* accepting = api->getOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    if (accepting && std::string(accepting) == "false") return false;
    handle_ = new Job{printerName, {}, 0};
    return true;
}

bool SystemSpooler::startDocument(const std::string& documentName, const std::string& dataType) {
    auto* job = static_cast<Job*>(handle_);
    const CupsApi* api = cups();
    if (!job || inDocument_ || !api) return false;
    job->document = documentName;
    job->id = api->createJob(CUPS_HTTP_DEFAULT, job->printer.c_str(), documentName.c_str(), 0, nullptr);
    if (job->id <= 0) return false;
    const char* format = dataType == "RAW" ? CUPS_FORMAT_RAW : dataType.c_str();
    if (api->startDocument(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, documentName.c_str(), format, 1) !=
        HTTP_STATUS_CONTINUE) {
        api->cancelJob2(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, 0);
        job->id = 0;
        return false;
    }
    inDocument_ = true;
    return true;
}

bool SystemSpooler::writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    const CupsApi* api = cups();
    if (!handle_ || !inDocument_ || !api) return false;
    if (api->writeRequestData(CUPS_HTTP_DEFAULT, reinterpret_cast<const char*>(bytes.data()), bytes.size()) !=
        HTTP_STATUS_CONTINUE)
        return false;
    written = bytes.size();
    return true;
}

bool SystemSpooler::endDocument() {
    auto* job = static_cast<Job*>(handle_);
    const CupsApi* api = cups();
    if (!job || !inDocument_ || !api) return false;
    inDocument_ = false;
    return api->finishDocument(CUPS_HTTP_DEFAULT, job->printer.c_str()) == IPP_STATUS_OK;
}

bool SystemSpooler::closePrinter() {
    auto* job = static_cast<Job*>(handle_);
    if (!job) return true;
    // A document that was never finished is not printed half. A job exists only where the library loaded.
    if (inDocument_) {
        inDocument_ = false;
        const CupsApi* api = cups();
        api->finishDocument(CUPS_HTTP_DEFAULT, job->printer.c_str());
        api->cancelJob2(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, 0);
    }
    delete job;
    handle_ = nullptr;
    return true;
}

std::vector<SpoolerPrinter> listSpoolerPrinters() {
    std::vector<SpoolerPrinter> printers;
    const CupsApi* api = cups();
    if (!api) return printers;
    Destinations dests(*api);
    for (int i = 0; i < dests.count; ++i) {
        const cups_dest_t& d = dests.list[i];
        if (d.instance) continue;
        const char* model = api->getOption("printer-make-and-model", d.num_options, d.options);
        printers.push_back({d.name, model ? model : ""});
    }
    return printers;
}

} // namespace tessera
