#include "app/nv_upload_dlg.h"

#include "app/print_options.h"
#include "app/settings_files.h"
#include "base/file_io.h"
#include "image/image_file.h"
#include "res/resource.h"

#include <algorithm>
#include <cmath>

namespace tessera {

namespace {

constexpr int kEntryButtons[] = {IDC_REMOVE, IDC_RESET, IDC_UPLOAD, IDC_ERASE, IDC_PRINTOUT, IDC_THRESHOLD};
constexpr int kSerialLists[] = {IDC_BAUD_RATE, IDC_BIT_LENGTH, IDC_PARITY, IDC_STOP_BIT, IDC_HANDSHAKE};
// The lists whose selections nvupload.ini keeps, in the file's order.
constexpr int kStoredLists[] = {IDC_PORT, IDC_BAUD_RATE, IDC_BIT_LENGTH, IDC_PARITY, IDC_STOP_BIT, IDC_HANDSHAKE};
constexpr std::size_t kMaxSettingsBytes = std::size_t{16} << 20;

constexpr const char* kFilesIni = "files.ini";
constexpr const char* kNvUploadIni = "nvupload.ini";

// The operations' texts. The Korean ones are shown when the system's code page is 949.
constexpr const char* kCommError = "Communication error. Can not be transmitted.";
constexpr const char* kCommErrorKo = "통신 에러. 전송할 수 없습니다.\n통신 포트를 확인 바랍니다.";
constexpr const char* kUploadDone =
    "Upload finished, and Writing of bit image completed. \r\nLogo becomes available after the reset of a device.";
constexpr const char* kSendDoneKo = "전송이 완료되었습니다.\n프린터가 리셋된 후, 로고 사용이 가능합니다.";
constexpr const char* kEraseDone = "Upload finished, and Cleaning of NV Image completed.";
constexpr const char* kAskUploadShort = "Logo file is written in the NV image area of the device. Continue it?";
constexpr const char* kAskUploadLong = "Logo file is written in the NV image area of the device.\r\nPlease waiting until "
                                       "downloading completed.\r\r\r\nContinue it?";
constexpr const char* kAskErase = "NV image all Delete. Continue it?";
constexpr const char* kTooManyLogos = "The printer stores at most 255 logos.";

struct Ports {
    std::vector<std::string> items;
    int start;
};

std::vector<std::string> portNames() {
    std::vector<std::string> names = {"LPT1", "LPT2", "USB", "TCP/IP"};
    for (int i = 1; i <= 12; ++i)
        names.push_back("COM" + std::to_string(i));
    return names;
}

// The name of a path without its directory, and the text after the name's last ".".
std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string extensionOf(const std::string& path) {
    const std::string name = fileNameOf(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

} // namespace

CNVUploadDlg::CNVUploadDlg(DialogHost& host, const PortSet& ports, PortDispatcher::Sleep sleep)
    : host_(host), ctrl_(ports, std::move(sleep)) {}

bool CNVUploadDlg::OnInitDialog() {
    lastPreviewWidth_ = lastPreviewHeight_ = 0;
    logoCount_ = 0;
    totalNvSize_ = 0;
    host_.setSliderRange(IDC_BRIGHTNESS, 0, 10, 1);
    host_.setSliderPosition(IDC_BRIGHTNESS, 5);
    halftoneMode_ = 0;
    for (int id : {IDC_THRESHOLD, IDC_RANGE_ALL, IDC_QUALITY_SINGLE})
        host_.setCheck(id, true);

    host_.showSplash();
    host_.sleep(1000);
    host_.hideSplash();

    resetState();
    readLogoList();

    if (enumeratePrinters() == 0) host_.enable(IDC_USE_DRIVER, false);
    host_.setComboSelection(IDC_PRINTER_DRIVER, host_.comboCount(IDC_PRINTER_DRIVER) > 0 ? 0 : -1);
    host_.enable(IDC_PRINTER_DRIVER, false);

    fillPortLists();
    host_.setText(IDC_TCP_PORT, "9100");
    readPortSelections();
    codePage_ = host_.ansiCodePage();
    applyPortRule();
    return true;
}

bool CNVUploadDlg::OnCommand(int id) {
    switch (id) {
    case IDC_OPEN_FILE: OnOpenFile(); return true;
    case IDC_REMOVE: OnRemove(); return true;
    case IDC_RESET: OnReset(); return true;
    case IDC_UPLOAD: OnUpload(); return true;
    case IDC_ERASE: OnErase(); return true;
    case IDC_PRINTOUT: OnPrintout(); return true;
    case IDC_SAVE: OnSave(); return true;
    case IDC_OPEN_FILE_AND_DOWNLOAD: OnOpenFileAndDownload(); return true;
    case IDC_THRESHOLD:
    case IDC_ERROR_DIFFUSION:
    case IDC_INDEXED_ORDER:
        halftoneMode_ = id - IDC_THRESHOLD;
        refreshConverted(currentImagePath_);
        return true;
    case IDC_QUALITY_SINGLE:
    case IDC_QUALITY_DOUBLE_WIDE:
    case IDC_QUALITY_DOUBLE_HIGH:
    case IDC_QUALITY_DOUBLE: quality_ = id - IDC_QUALITY_SINGLE; return true;
    case IDC_RANGE_ALL: printRange_ = 0; return true;
    case IDC_RANGE_SELECTION: printRange_ = 1; return true;
    case IDC_USE_DRIVER: applyDriverRule(); return true;
    default: return false;
    }
}

void CNVUploadDlg::OnPortSelectionChanged() { applyPortRule(); }

void CNVUploadDlg::OnSliderReleased() { refreshConverted(currentImagePath_); }

// ---- the logo list

void CNVUploadDlg::insertRow(int row, const LogoEntry& entry) {
    host_.insertListRow(row, {std::to_string(row), std::to_string(row + 1), entry.displayName,
                              std::to_string(entry.nvSize)});
}

void CNVUploadDlg::add(const std::string& displayName, const std::string& filePath) {
    int bitsPerPixel = 0, height = 0, width = 0;
    if (probeBitmapFile(filePath, bitsPerPixel, height, width) != 0) {
        host_.messageBox("Out of range bitmap file.", "Error", MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    LogoEntry entry(displayName, filePath, bitsPerPixel, width, height);
    logoList_.push_back(entry);
    insertRow(logoCount_, entry);
    ++logoCount_;
    totalNvSize_ += entry.nvSize;
    refreshCounters();
    refreshSizeLines(width, height);
    enableEntryButtons(true);
}

void CNVUploadDlg::OnOpenFile() {
    if (logoCount_ >= kMaxListedLogos) {
        host_.messageBox("Don't read files any more.", "Open", MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    FileDialogRequest request;
    request.filters = {{"Bitmap Images (*.bmp)", "*.bmp;*.BMP"}};
    request.hideReadOnly = true;
    request.promptOverwrite = true;
    const auto path = host_.fileDialog(request);
    if (!path) return;
    currentImagePath_ = *path;
    add(fileNameOf(*path), *path);
    showLogo(*path);
}

void CNVUploadDlg::OnRemove() {
    const int mark = host_.listSelectionMark();
    if (host_.messageBox("Do you want to remove the selection?", "Remove", MessageButtons::YesNo,
                         MessageIcon::Question) != MessageAnswer::Yes)
        return;
    if (mark < 0 || mark >= static_cast<int>(logoList_.size())) {
        host_.messageBox("There is no selected Item", "Remove", MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    totalNvSize_ -= logoList_[static_cast<std::size_t>(mark)].nvSize;
    logoList_.erase(logoList_.begin() + mark);
    host_.deleteAllListRows();
    logoCount_ = 0;
    if (logoList_.empty()) {
        totalNvSize_ = 0;
        refreshCounters();
        enableEntryButtons(false);
        return;
    }
    for (const LogoEntry& entry : logoList_)
        insertRow(logoCount_++, entry);
    refreshCounters();
}

void CNVUploadDlg::OnReset() {
    if (host_.messageBox("Do you want to remove all of the selection?", "Remove", MessageButtons::YesNo,
                         MessageIcon::Question) != MessageAnswer::Yes)
        return;
    host_.deleteAllListRows();
    logoList_.clear();
    logoCount_ = 0;
    totalNvSize_ = 0;
    refreshCounters();
    enableEntryButtons(false);
}

void CNVUploadDlg::OnRowClick() {
    const int mark = host_.listSelectionMark();
    if (mark < 0 || mark >= static_cast<int>(logoList_.size())) return;
    const LogoEntry& entry = logoList_[static_cast<std::size_t>(mark)];
    currentImagePath_ = entry.filePath;
    showLogo(entry.filePath);
    refreshSizeLines(entry.width, entry.height);
}

void CNVUploadDlg::refreshCounters() {
    host_.setText(IDC_FILE_COUNT, "Logo Files : " + std::to_string(logoCount_) + " / 255");
    host_.setText(IDC_SIZE_TOTAL, "Logo size total : " + std::to_string(totalNvSize_ / 1000) + " / 250 KBytes");
}

void CNVUploadDlg::refreshSizeLines(int width, int height) {
    host_.setText(IDC_IMAGE_HEIGHT, "Height : " + std::to_string(height));
    host_.setText(IDC_IMAGE_WIDTH, "Width : " + std::to_string(width));
}

void CNVUploadDlg::enableEntryButtons(bool enabled) {
    for (int id : kEntryButtons)
        host_.enable(id, enabled);
}

void CNVUploadDlg::resetState() {
    enableEntryButtons(false);
    quality_ = 0;
    printRange_ = 0;
    refreshCounters();
    refreshSizeLines(0, 0);
    brightness_ = readBrightness();
}

std::vector<std::string> CNVUploadDlg::logoPaths() const {
    std::vector<std::string> paths;
    paths.reserve(logoList_.size());
    for (const LogoEntry& entry : logoList_)
        paths.push_back(entry.filePath);
    return paths;
}

// ---- printers and ports

int CNVUploadDlg::enumeratePrinters() {
    const auto printers = host_.installedPrinters();
    if (printers.empty()) {
        host_.messageBox("EnumPrinters() failed", "EnumPrinters() Error", MessageButtons::Ok, MessageIcon::None);
        return 0;
    }
    const auto names = matchPrinters(printers);
    for (const std::string& name : names)
        host_.addComboItem(IDC_PRINTER_DRIVER, name);
    return static_cast<int>(names.size());
}

void CNVUploadDlg::fillPortLists() {
    const std::pair<int, Ports> lists[] = {
        {IDC_PORT, {portNames(), 2}},
        {IDC_BAUD_RATE, {{"2400 bps", "4800 bps", "9600 bps", "19200 bps", "38400 bps", "115200 bps"}, 3}},
        {IDC_BIT_LENGTH, {{"8 bit"}, 0}},
        {IDC_PARITY, {{"NONE", "EVEN", "ODD"}, 0}},
        {IDC_STOP_BIT, {{"1 bit"}, 0}},
        {IDC_HANDSHAKE, {{"DTR/DSR"}, 0}},
        {IDC_SAVE_FORMAT, {{"BIN", "HEX"}, 0}},
    };
    for (const auto& [id, list] : lists) {
        for (const std::string& item : list.items)
            host_.addComboItem(id, item);
        host_.setComboSelection(id, list.start);
    }
}

void CNVUploadDlg::applyPortRule() {
    const int selected = host_.comboSelection(IDC_PORT);
    const std::string port = selected >= 0 ? host_.comboItem(IDC_PORT, selected) : std::string();
    const bool serial = port.find("COM") != std::string::npos;
    const bool network = !serial && port.find("TCP/IP") != std::string::npos;
    for (int id : kSerialLists)
        host_.enable(id, serial);
    host_.enable(IDC_IP_ADDRESS, network);
    host_.enable(IDC_TCP_PORT, network);
}

void CNVUploadDlg::applyDriverRule() {
    const bool driver = host_.isChecked(IDC_USE_DRIVER);
    host_.enable(IDC_PRINTER_DRIVER, driver);
    host_.enable(IDC_PORT, !driver);
    for (int id : kSerialLists)
        host_.enable(id, !driver);
    host_.enable(IDC_IP_ADDRESS, !driver);
    host_.enable(IDC_TCP_PORT, !driver);
}

int CNVUploadDlg::readBrightness() {
    const int maximum = host_.sliderMaximum(IDC_BRIGHTNESS);
    if (maximum <= 0) return 0;
    return static_cast<int>(std::trunc(10.0 * host_.sliderPosition(IDC_BRIGHTNESS) / maximum));
}

PortSettings CNVUploadDlg::readPortSettings() {
    PortSettings s;
    s.useDriver = host_.isChecked(IDC_USE_DRIVER);
    s.printerName = host_.text(IDC_PRINTER_DRIVER).substr(0, 127);
    const int port = host_.comboSelection(IDC_PORT);
    s.portName = port >= 0 ? host_.comboItem(IDC_PORT, port) : std::string();
    const int baud = host_.comboSelection(IDC_BAUD_RATE);
    s.baudCode = baudCodeOf(baud >= 0 ? host_.comboItem(IDC_BAUD_RATE, baud) : std::string());
    s.bitLengthIndex = host_.comboSelection(IDC_BIT_LENGTH);
    s.parityIndex = host_.comboSelection(IDC_PARITY);
    s.stopBitIndex = host_.comboSelection(IDC_STOP_BIT);
    s.handshakeIndex = host_.comboSelection(IDC_HANDSHAKE);
    s.ipAddress = host_.text(IDC_IP_ADDRESS);
    s.tcpPort = tcpPortOfText(host_.text(IDC_TCP_PORT));
    return s;
}

// ---- the operations

void CNVUploadDlg::showOpenFailure(const char* caption, const char* koreanCaption) {
    host_.messageBox(korean() ? kCommErrorKo : kCommError, korean() ? koreanCaption : caption, MessageButtons::Ok,
                     MessageIcon::Error);
}

TransferResult CNVUploadDlg::transfer(const PortSettings& settings, const std::string& progressCaption,
                                      int progressStepMs, const std::function<int(CNVUploadCtrl&)>& writer) {
    return runTransfer(ctrl_, settings, [&](CNVUploadCtrl& ctrl) {
        const int r = writer(ctrl);
        if (settings.useDriver) host_.runProgress(progressCaption, progressStepMs);
        return r;
    });
}

void CNVUploadDlg::OnUpload() {
    if (logoList_.size() > static_cast<std::size_t>(kMaxListedLogos)) {
        host_.messageBox(kTooManyLogos, "Upload", MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    const PortSettings settings = readPortSettings();
    if (host_.messageBox(settings.useDriver ? kAskUploadShort : kAskUploadLong, "Upload", MessageButtons::YesNo,
                         MessageIcon::Question) != MessageAnswer::Yes)
        return;
    // Every logo is encoded before the printer is opened, so a file that cannot be converted stops the
    // upload before a byte is sent.
    auto prepared = ctrl_.prepareUpload(logoPaths(), halftoneMode_, brightness_);
    if (!prepared) {
        host_.messageBox(prepared.error().message, "Upload", MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    const TransferResult r = transfer(settings, "Uploading...", 750,
                                      [&](CNVUploadCtrl& ctrl) { return ctrl.sendLogos(*prepared); });
    if (r.outcome == TransferOutcome::OpenFailed)
        showOpenFailure("Upload", "전송");
    else if (r.ok())
        host_.messageBox(kUploadDone, "Upload", MessageButtons::Ok, MessageIcon::Information);
    else
        host_.messageBox(kCommError, "Upload", MessageButtons::Ok, MessageIcon::Error);
}

void CNVUploadDlg::OnErase() {
    if (host_.messageBox(kAskErase, "Erase", MessageButtons::YesNo, MessageIcon::Question) != MessageAnswer::Yes)
        return;
    const PortSettings settings = readPortSettings();
    const TransferResult r =
        transfer(settings, "Erasing...", 750, [](CNVUploadCtrl& ctrl) { return ctrl.eraseNvImages(); });
    if (r.outcome == TransferOutcome::OpenFailed)
        showOpenFailure("Erase", "삭제");
    else if (r.ok())
        host_.messageBox(kEraseDone, "Erase", MessageButtons::Ok, MessageIcon::Information);
    else
        host_.messageBox(kCommError, settings.useDriver ? "Error" : "Erase", MessageButtons::Ok, MessageIcon::Error);
}

void CNVUploadDlg::OnPrintout() {
    const auto [first, last] =
        printRange_ == 0 ? std::pair{0, 0} : readSelection(host_.text(IDC_SELECTION_NUMBER));
    const PortSettings settings = readPortSettings();
    const int quality = quality_;
    const TransferResult r = transfer(settings, "PrintOut", 100, [first = first, last = last, quality](CNVUploadCtrl& ctrl) {
        return ctrl.printNvImages(first, last, quality);
    });
    if (r.outcome == TransferOutcome::OpenFailed)
        showOpenFailure("Print", "인쇄");
    else if (!r.ok())
        // A printout reports nothing when it worked, so a failure must not pass unseen.
        host_.messageBox(kCommError, "Print", MessageButtons::Ok, MessageIcon::Error);
}

void CNVUploadDlg::OnSave() {
    if (logoList_.size() > static_cast<std::size_t>(kMaxListedLogos)) {
        host_.messageBox(kTooManyLogos, "Save", MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    const std::vector<std::string> paths = logoPaths();
    const bool hex = host_.comboSelection(IDC_SAVE_FORMAT) == 1;
    FileDialogRequest request;
    request.save = true;
    request.title = hex ? "Save text File" : "Save bit File";
    request.filters = {hex ? FileFilter{"text File(*.txt)", "*.txt"} : FileFilter{"bit image File(*.bit)", "*.bit"}};
    request.hideReadOnly = true;
    request.promptOverwrite = true;
    request.startInCurrentDirectory = true;
    request.maxPathLength = 255;
    const auto chosen = host_.fileDialog(request);
    if (!chosen) {
        if (hex)
            host_.messageBox(korean() ? "저장할 텍스트 파일을 선택 바랍니다 !!!" : "Select text file !!!",
                             korean() ? "txt 파일" : "txt file", MessageButtons::Ok, MessageIcon::None);
        else
            host_.messageBox(korean() ? "저장할 bit 파일을 선택 바랍니다 !!!" : "Select bit file !!!",
                             korean() ? "bit 파일" : "bit file", MessageButtons::Ok, MessageIcon::None);
        return;
    }
    const char* extension = hex ? "txt" : "bit";
    const std::string fileName = extensionOf(*chosen) == extension ? *chosen : *chosen + "." + extension;
    const int r = ctrl_.saveLogoFile(fileName, paths, halftoneMode_, brightness_, hex ? HEX : BIN);
    const char* caption = korean() ? "저장" : "Save";
    if (r == CNVUploadCtrl::kSaveWritten)
        host_.messageBox(korean() ? "저장이 완료되었습니다." : "Save finished.", caption, MessageButtons::Ok,
                         MessageIcon::Information);
    else if (r == CNVUploadCtrl::kSaveNoLogo)
        host_.messageBox(korean() ? "Syntax 에러. 저장할 수 없습니다." : "Syntax error. Can not be saved.", caption,
                         MessageButtons::Ok, MessageIcon::Error);
    else
        // A logo that cannot be converted, or a file that cannot be written: say which and why.
        host_.messageBox(ctrl_.lastError().message, caption, MessageButtons::Ok, MessageIcon::Error);
}

void CNVUploadDlg::OnOpenFileAndDownload() {
    FileDialogRequest request;
    request.title = "Open bit File";
    request.filters = {{"bit image File(*.bit)", "*.bit"}};
    request.hideReadOnly = true;
    request.startInCurrentDirectory = true;
    request.maxPathLength = 255;
    const auto path = host_.fileDialog(request);
    if (!path) {
        host_.messageBox(korean() ? "전송할 bit 파일을 선택 바랍니다 !!!" : "Select bit file !!!",
                         korean() ? "Bit 파일 열기" : "Open bit file", MessageButtons::Ok, MessageIcon::None);
        return;
    }
    if (host_.messageBox(kAskUploadLong, "File Send", MessageButtons::YesNo, MessageIcon::Question) !=
        MessageAnswer::Yes)
        return;
    const PortSettings settings = readPortSettings();
    const TransferResult r = transfer(settings, "Uploading...", 750, [&](CNVUploadCtrl& ctrl) {
        return ctrl.downloadBitFile(*path) == 0 ? 1 : 0;
    });
    const bool ko = korean() && !settings.useDriver;
    if (r.outcome == TransferOutcome::OpenFailed)
        showOpenFailure("File Send", "전송");
    else if (r.ok())
        host_.messageBox(ko ? kSendDoneKo : kUploadDone, ko ? "전송" : "File Send", MessageButtons::Ok,
                         MessageIcon::Information);
    else if (settings.useDriver)
        host_.messageBox(kCommError, "File Send", MessageButtons::Ok, MessageIcon::Error);
    else
        host_.messageBox(ko ? kCommErrorKo : kCommError, ko ? "전송 에러" : "Upload Error", MessageButtons::Ok,
                         MessageIcon::Error);
}

// ---- the previews

void CNVUploadDlg::showLogo(const std::string& path) {
    LogoBitmap loaded(kWhiteColour);
    if (loaded.load(path, kBackgroundColour)) {
        leftSource_ = std::move(loaded);
        leftView_.release();
        leftView_.copyFrom(&leftSource_);
    }
    refreshConverted(path);
}

void CNVUploadDlg::refreshConverted(const std::string& path) {
    LogoBitmap loaded(kWhiteColour);
    if (!loaded.load(path, kBackgroundColour)) return;
    rightSource_ = std::move(loaded);
    rightView_.release();
    rightView_.copyFrom(&rightSource_);
    refreshViews();
}

void CNVUploadDlg::refreshViews() {
    if (!leftSource_.hasImage()) return;
    leftView_.copyFrom(&leftSource_);
    if (rightSource_.hasImage()) rightView_.copyFrom(&rightSource_);
    host_.invalidate();
}

PreviewLayout CNVUploadDlg::layoutPreviews(int frameWidth, int frameHeight) {
    PreviewLayout layout;
    if (!leftView_.hasImage()) return layout;
    const int bw = leftView_.width(), bh = leftView_.height();
    int dw = bw, dh = bh;
    if (frameWidth <= 0 || frameHeight <= 0) {
        dw = dh = 0;
    } else if (bw > frameWidth || bh > frameHeight) {
        // Both sides stay inside the frame: the side that overflows more decides.
        const double r = std::max(static_cast<double>(bw) / frameWidth, static_cast<double>(bh) / frameHeight);
        dw = static_cast<int>(std::trunc(bw / r));
        dh = static_cast<int>(std::trunc(bh / r));
    }
    layout.draw = true;
    layout.drawWidth = dw;
    layout.drawHeight = dh;
    layout.sourceWidth = bw;
    layout.sourceHeight = bh;
    if (lastPreviewWidth_ > dw) layout.strips.push_back({dw, 0, lastPreviewWidth_, std::max(lastPreviewHeight_, dh)});
    if (lastPreviewHeight_ > dh) layout.strips.push_back({0, dh, std::max(dw, lastPreviewWidth_), lastPreviewHeight_});

    const int mark = host_.listSelectionMark();
    const int depth = mark >= 0 && mark < static_cast<int>(logoList_.size())
                          ? logoList_[static_cast<std::size_t>(mark)].bitsPerPixel
                          : 24;
    if (halftoneMode_ >= 0 && halftoneMode_ <= 2) {
        brightness_ = readBrightness();
        rightView_.release();
        rightView_.copyFrom(&rightSource_);
        convertForPreview(rightView_, halftoneMode_, brightness_, depth);
    }
    lastPreviewWidth_ = dw;
    lastPreviewHeight_ = dh;
    return layout;
}

// ---- the settings files

void CNVUploadDlg::readLogoList() {
    auto bytes = readWholeFile(host_.executableDirectory() + kFilesIni, kMaxSettingsBytes);
    if (!bytes) return;
    const std::string text(bytes->begin(), bytes->end());
    for (const StoredLogo& logo : parseLogoList(text)) {
        const std::string path = host_.fromStoredText(logo.path);
        add(host_.fromStoredText(logo.name), path);
        showLogo(path);
    }
}

void CNVUploadDlg::readPortSelections() {
    auto bytes = readWholeFile(host_.executableDirectory() + kNvUploadIni, kMaxSettingsBytes);
    if (!bytes) return;
    PortSelections selections{};
    if (!parsePortSelections(std::string(bytes->begin(), bytes->end()), selections)) return;
    for (std::size_t i = 0; i < selections.size(); ++i) {
        const int id = kStoredLists[i];
        const int index = selections[i];
        host_.setComboSelection(id, index >= 0 && index < host_.comboCount(id) ? index : -1);
    }
}

void CNVUploadDlg::writeSettingsFile(const std::string& name, const std::string& text) {
    const std::string path = host_.executableDirectory() + name;
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (Status s = writeFileAtomically(path, bytes); !s)
        host_.messageBox("The settings could not be saved in " + path + ": " + s.error().message, "Exit",
                         MessageButtons::Ok, MessageIcon::Exclamation);
}

void CNVUploadDlg::OnClose() {
    std::vector<LogoEntry> stored = logoList_;
    for (LogoEntry& entry : stored) {
        entry.filePath = host_.toStoredText(entry.filePath);
        entry.displayName = host_.toStoredText(entry.displayName);
    }
    writeSettingsFile(kFilesIni, composeLogoList(stored));
    PortSelections selections{};
    for (std::size_t i = 0; i < selections.size(); ++i)
        selections[i] = host_.comboSelection(kStoredLists[i]);
    writeSettingsFile(kNvUploadIni, composePortSelections(selections));
}

} // namespace tessera
