// The installed printers on Linux are CUPS queues; a transfer is one raw job.

#include "port/system_spooler.h"

#include <cups/cups.h>

#include <cstdlib>

namespace tessera {

namespace {

// A queue's state as the scheduler reports it: 3 idle, 4 printing, 5 stopped.
constexpr int kStopped = 5;

struct Destinations {
    int count = 0;
    cups_dest_t* list = nullptr;
    Destinations() { count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list); }
    ~Destinations() { cupsFreeDests(count, list); }
    Destinations(const Destinations&) = delete;
    Destinations& operator=(const Destinations&) = delete;
};

struct Job {
    std::string printer;
    std::string document;
    int id = 0;
};

} // namespace

SystemSpooler::~SystemSpooler() { closePrinter(); }

bool SystemSpooler::openPrinter(const std::string& printerName) {
    closePrinter();
    Destinations dests;
    cups_dest_t* dest = cupsGetDest(printerName.c_str(), nullptr, dests.count, dests.list);
    if (!dest) return false;
    // A stopped queue would keep the job and report success; the printer would get nothing.
    const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
    if (state && std::atoi(state) == kStopped) return false;
    const char* accepting = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    if (accepting && std::string(accepting) == "false") return false;
    handle_ = new Job{printerName, {}, 0};
    return true;
}

bool SystemSpooler::startDocument(const std::string& documentName, const std::string& dataType) {
    auto* job = static_cast<Job*>(handle_);
    if (!job || inDocument_) return false;
    job->document = documentName;
    job->id = cupsCreateJob(CUPS_HTTP_DEFAULT, job->printer.c_str(), documentName.c_str(), 0, nullptr);
    if (job->id <= 0) return false;
    const char* format = dataType == "RAW" ? CUPS_FORMAT_RAW : dataType.c_str();
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, documentName.c_str(), format, 1) !=
        HTTP_STATUS_CONTINUE) {
        cupsCancelJob2(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, 0);
        job->id = 0;
        return false;
    }
    inDocument_ = true;
    return true;
}

bool SystemSpooler::writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    if (!handle_ || !inDocument_) return false;
    if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, reinterpret_cast<const char*>(bytes.data()), bytes.size()) !=
        HTTP_STATUS_CONTINUE)
        return false;
    written = bytes.size();
    return true;
}

bool SystemSpooler::endDocument() {
    auto* job = static_cast<Job*>(handle_);
    if (!job || !inDocument_) return false;
    inDocument_ = false;
    return cupsFinishDocument(CUPS_HTTP_DEFAULT, job->printer.c_str()) == IPP_STATUS_OK;
}

bool SystemSpooler::closePrinter() {
    auto* job = static_cast<Job*>(handle_);
    if (!job) return true;
    // A document that was never finished is not printed half.
    if (inDocument_) {
        inDocument_ = false;
        cupsFinishDocument(CUPS_HTTP_DEFAULT, job->printer.c_str());
        cupsCancelJob2(CUPS_HTTP_DEFAULT, job->printer.c_str(), job->id, 0);
    }
    delete job;
    handle_ = nullptr;
    return true;
}

std::vector<SpoolerPrinter> listSpoolerPrinters() {
    std::vector<SpoolerPrinter> printers;
    Destinations dests;
    for (int i = 0; i < dests.count; ++i) {
        const cups_dest_t& d = dests.list[i];
        if (d.instance) continue;
        const char* model = cupsGetOption("printer-make-and-model", d.num_options, d.options);
        printers.push_back({d.name, model ? model : ""});
    }
    return printers;
}

} // namespace tessera
