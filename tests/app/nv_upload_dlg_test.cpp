// The main window's behaviour against a fake toolkit and fake ports: start-up, enabling rules, the logo
// list, the operations' questions, paths and messages, the settings files, the previews and the print range.

#include "app/nv_upload_dlg.h"

#include "app/print_options.h"
#include "res/resource.h"
#include "support/bmp_writer.h"
#include "support/fake_ports.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

namespace tessera {
namespace {

using test::Bytes;
using Row = std::array<std::string, 4>;
using Strings = std::vector<std::string>;

// A toolkit for the main window's behaviour that records everything: control state by id, the message
// boxes with scripted answers, the file dialogs with scripted choices, the progress windows, and one
// ordered event log that the fake ports can write into too.
struct ShownMessage {
    std::string text, caption;
    MessageButtons buttons;
    MessageIcon icon;
};

class FakeDialogHost : public DialogHost {
  public:
    struct Combo {
        std::vector<std::string> items;
        int selection = -1;
    };

    std::map<int, std::string> texts;
    std::map<int, bool> enabled; // absent: enabled
    std::map<int, bool> checks;
    std::map<int, Combo> combos;
    int sliderMax = 100, sliderPos = 0;
    std::vector<Row> rows;
    int selectionMark = -1;

    std::vector<ShownMessage> messages;
    std::deque<MessageAnswer> answers; // for Yes/No boxes; empty: Yes
    std::vector<FileDialogRequest> fileRequests;
    std::deque<std::optional<std::string>> fileChoices; // empty: cancelled
    std::vector<std::pair<std::string, int>> progress;
    std::vector<std::string> events; // "message:CAPTION", "progress:CAPTION", "splash:on", "sleep:N", ...
    int invalidations = 0;

    unsigned codePage = 1252;
    std::string directory; // ends in '/'
    std::vector<InstalledPrinter> printers;

    // A new window: the controls as created, the recordings kept.
    void newWindow() {
        texts.clear(), enabled.clear(), checks.clear(), combos.clear(), rows.clear();
        selectionMark = -1, sliderMax = sliderPos = 0;
    }

    bool isEnabled(int id) const { return !enabled.count(id) || enabled.at(id); }
    std::string selectedItem(int id) const { return comboItemAt(combos.at(id), combos.at(id).selection); }
    void select(int id, int index) { combos[id].selection = index; }
    void clickRow(int row) { selectionMark = row; }

    void setText(int id, const std::string& t) override { texts[id] = t; }
    std::string text(int id) override { return combos.count(id) ? selectedItem(id) : texts[id]; }
    void enable(int id, bool e) override { enabled[id] = e; }
    void setCheck(int id, bool c) override { checks[id] = c; }
    bool isChecked(int id) override { return checks[id]; }
    void addComboItem(int id, const std::string& item) override { combos[id].items.push_back(item); }
    int comboCount(int id) override { return static_cast<int>(combos[id].items.size()); }
    std::string comboItem(int id, int index) override { return comboItemAt(combos[id], index); }
    static std::string comboItemAt(const Combo& c, int i) {
        return i >= 0 && i < static_cast<int>(c.items.size()) ? c.items[static_cast<std::size_t>(i)] : "";
    }
    void setComboSelection(int id, int index) override {
        auto& c = combos[id];
        c.selection = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
    }
    int comboSelection(int id) override { return combos[id].selection; }
    void setSliderRange(int, int, int maximum, int) override { sliderMax = maximum; }
    void setSliderPosition(int, int position) override { sliderPos = position; }
    int sliderPosition(int) override { return sliderPos; }
    int sliderMaximum(int) override { return sliderMax; }
    void insertListRow(int row, const Row& columns) override { rows.insert(rows.begin() + row, columns); }
    void deleteAllListRows() override { rows.clear(), selectionMark = -1; }
    int listSelectionMark() override { return selectionMark; }

    MessageAnswer messageBox(const std::string& t, const std::string& c, MessageButtons b, MessageIcon i) override {
        messages.push_back({t, c, b, i});
        events.push_back("message:" + c);
        return b == MessageButtons::Ok ? MessageAnswer::Ok : next(answers, MessageAnswer::Yes);
    }
    std::optional<std::string> fileDialog(const FileDialogRequest& r) override {
        fileRequests.push_back(r);
        return next(fileChoices, std::optional<std::string>());
    }
    template <class T> static T next(std::deque<T>& scripted, T otherwise) {
        if (scripted.empty()) return otherwise;
        T first = scripted.front();
        scripted.pop_front();
        return first;
    }
    void runProgress(const std::string& caption, int stepMs) override {
        progress.emplace_back(caption, stepMs);
        events.push_back("progress:" + caption);
    }
    void showSplash() override { events.push_back("splash:on"); }
    void hideSplash() override { events.push_back("splash:off"); }
    void sleep(int ms) override { events.push_back("sleep:" + std::to_string(ms)); }
    void invalidate() override { ++invalidations; }
    unsigned ansiCodePage() override { return codePage; }
    std::string executableDirectory() override { return directory; }
    std::vector<InstalledPrinter> installedPrinters() override { return printers; }
    std::string toStoredText(const std::string& t) override { return t; }
    std::string fromStoredText(const std::string& b) override { return b; }
};

constexpr const char* kCommError = "Communication error. Can not be transmitted.";
constexpr const char* kCommErrorKo = "통신 에러. 전송할 수 없습니다.\n통신 포트를 확인 바랍니다.";
constexpr const char* kUploadDone =
    "Upload finished, and Writing of bit image completed. \r\nLogo becomes available after the reset of a device.";

struct LoggingSpooler : test::FakeSpooler {
    std::vector<std::string>* events = nullptr;
    bool closePrinter() override {
        events->push_back("spooler:close");
        return FakeSpooler::closePrinter();
    }
};

class DialogTest : public ::testing::Test {
  protected:
    static void writeText(const std::string& to, std::string_view text) { std::ofstream(to, std::ios::binary) << text; }

    void SetUp() override {
        dir = test::freshDir("dialog_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        host.directory = dir + "/";
        spooler.events = &host.events;
        spooler.maxPerCall = 1 << 20;
    }

    // A 24-bit bitmap of the size in the test's directory.
    std::string bitmap(const std::string& name, int w, int h, BmpColor fill = {40, 90, 200}) {
        return test::writeTempFile(dir + "/" + name, test::writeBmp24(test::Picture(w, h, fill)));
    }

    // A new window whose start-up questions and recordings are forgotten.
    void start() {
        host.newWindow();
        host.fileRequests.clear();
        host.fileChoices.clear();
        host.progress.clear();
        dlg = std::make_unique<CNVUploadDlg>(host, ports, [](std::chrono::milliseconds) {});
        dlg->OnInitDialog();
        host.messages.clear();
        host.events.clear();
    }

    void openFile(const std::string& path) {
        host.fileChoices.push_back(path);
        dlg->OnOpenFile();
    }

    void useNetwork() {
        host.select(IDC_PORT, 3);
        dlg->OnPortSelectionChanged();
        host.texts[IDC_IP_ADDRESS] = "127.0.0.1";
    }

    void useDriver(const std::string& name) {
        host.combos[IDC_PRINTER_DRIVER].items = {name};
        host.select(IDC_PRINTER_DRIVER, 0);
        host.checks[IDC_USE_DRIVER] = true;
        dlg->OnCommand(IDC_USE_DRIVER);
    }

    const ShownMessage& lastMessage() const { return host.messages.back(); }

    std::string dir;
    FakeDialogHost host;
    LoggingSpooler spooler;
    test::FakeLine serial, parallel, usb;
    test::FakeNet net;
    PortSet ports{&spooler, &serial, &parallel, &usb, &net};
    std::unique_ptr<CNVUploadDlg> dlg;
};

TEST_F(DialogTest, FirstStartShowsTheStartValuesAndRefusesAListedPathThatDoesNotLoad) {
    writeText(dir + "/files.ini", "[LOGO]\r\r\nno equals sign\r\r\n"); // a listed path that does not load
    dlg = std::make_unique<CNVUploadDlg>(host, ports);
    EXPECT_TRUE(dlg->OnInitDialog());

    EXPECT_EQ(host.events,
              (Strings{"splash:on", "sleep:1000", "splash:off", "message:Error", "message:EnumPrinters() Error"}));
    EXPECT_EQ(host.messages[1].text, "EnumPrinters() failed");
    EXPECT_EQ(host.messages[1].icon, MessageIcon::None);
    EXPECT_TRUE(dlg->logoList().empty());

    for (int id : {IDC_PRINTER_DRIVER, IDC_USE_DRIVER, IDC_BAUD_RATE, IDC_IP_ADDRESS, IDC_REMOVE, IDC_RESET, IDC_UPLOAD,
                   IDC_ERASE, IDC_PRINTOUT, IDC_THRESHOLD})
        EXPECT_FALSE(host.isEnabled(id)) << id;
    for (int id : {IDC_SAVE, IDC_OPEN_FILE_AND_DOWNLOAD, IDC_INDEXED_ORDER, IDC_OPEN_FILE, IDC_EXIT})
        EXPECT_TRUE(host.isEnabled(id)) << id;
    EXPECT_EQ(host.texts[IDC_FILE_COUNT], "Logo Files : 0 / 255");
    EXPECT_EQ(host.texts[IDC_SIZE_TOTAL], "Logo size total : 0 / 250 KBytes");
    EXPECT_EQ(host.texts[IDC_IMAGE_HEIGHT], "Height : 0");
    EXPECT_EQ(host.texts[IDC_IMAGE_WIDTH], "Width : 0");
    EXPECT_EQ(host.texts[IDC_TCP_PORT], "9100");
    EXPECT_EQ(host.selectedItem(IDC_PORT), "USB");
    EXPECT_EQ(host.combos[IDC_PORT].items[15], "COM12");
    EXPECT_EQ(host.selectedItem(IDC_BAUD_RATE), "19200 bps");
    EXPECT_EQ(host.combos[IDC_BAUD_RATE].items[5], "115200 bps");
    EXPECT_EQ(host.combos[IDC_PARITY].items[2], "ODD");
    EXPECT_EQ(host.sliderPos, 5);
    EXPECT_TRUE(host.checks[IDC_THRESHOLD] && host.checks[IDC_RANGE_ALL] && host.checks[IDC_QUALITY_SINGLE]);
}

TEST_F(DialogTest, PrintersAreListedByTheirOwnNameWhenTheirDriverIsAKnownModel) {
    host.printers = {{"Front desk", "VELKA KTX410"},
                     {"VELKA KTX410", "Generic / Text Only"},
                     {"Kitchen", "VELKA PRX250-III"},
                     {"Bar", "velka ktx310"}};
    start();
    EXPECT_EQ(host.combos[IDC_PRINTER_DRIVER].items, (Strings{"Front desk", "Kitchen"}));
    EXPECT_EQ(host.combos[IDC_PRINTER_DRIVER].selection, 0);
    EXPECT_TRUE(host.isEnabled(IDC_USE_DRIVER));
}

TEST_F(DialogTest, PortSelectionsIgnoreKeysAndReadMissingLinesAsZero) {
    const std::tuple<const char*, const char*, int> cases[] = {
        // settings, port, baud rate selection
        {"[LOGO]\r\r\nWhatever=1\r\r\n", "LPT2", 0},
        {"[LOGO]\r\r\nPort=5\r\r\nBaudRate=-1\r\r\n", "COM2", -1},
        {"[OTHER]\r\r\nPort=3\r\r\n", "USB", 3},
    };
    for (const auto& [ini, port, baud] : cases) {
        writeText(dir + "/nvupload.ini", ini);
        start();
        EXPECT_EQ(host.selectedItem(IDC_PORT), port) << ini;
        EXPECT_EQ(host.combos[IDC_BAUD_RATE].selection, baud) << ini;
        EXPECT_EQ(host.isEnabled(IDC_BAUD_RATE), baud == -1) << ini; // the port's rule follows what was read
    }
}

TEST_F(DialogTest, EnablingRulesFollowThePortAndTheDriverCheckBox) {
    start();
    // Port index, then whether the serial settings, the address and the TCP port are enabled.
    const std::tuple<int, bool, bool> cases[] = {
        {6, true, false}, {3, false, true}, {1, false, false}, {15, true, false}};
    for (const auto& [port, serialOn, networkOn] : cases) {
        host.select(IDC_PORT, port);
        dlg->OnPortSelectionChanged();
        for (int id : {IDC_BAUD_RATE, IDC_BIT_LENGTH, IDC_PARITY, IDC_STOP_BIT, IDC_HANDSHAKE})
            EXPECT_EQ(host.isEnabled(id), serialOn) << port << " " << id;
        EXPECT_EQ(host.isEnabled(IDC_IP_ADDRESS), networkOn) << port;
        EXPECT_EQ(host.isEnabled(IDC_TCP_PORT), networkOn) << port;
    }
    // The driver box on and off: the port's settings are all off, then all eight back on.
    for (bool driver : {true, false}) {
        host.checks[IDC_USE_DRIVER] = driver;
        dlg->OnCommand(IDC_USE_DRIVER);
        EXPECT_EQ(host.isEnabled(IDC_PRINTER_DRIVER), driver);
        for (int id : {IDC_PORT, IDC_BAUD_RATE, IDC_BIT_LENGTH, IDC_PARITY, IDC_STOP_BIT, IDC_HANDSHAKE, IDC_IP_ADDRESS,
                       IDC_TCP_PORT})
            EXPECT_EQ(host.isEnabled(id), !driver) << id;
    }
}

TEST_F(DialogTest, OpeningRemovingAndResettingKeepRowsAndCountersInStep) {
    start();
    const int sizes[][2] = {{100, 50}, {64, 64}, {8, 8}, {9, 9}, {16, 1}};
    for (int i = 0; i < 5; ++i)
        openFile(bitmap("logo" + std::to_string(i) + ".bmp", sizes[i][0], sizes[i][1]));
    ASSERT_EQ(host.rows.size(), 5u);
    EXPECT_EQ(dlg->totalNvSize(), 728 + 512 + 8 + 32 + 16);
    EXPECT_EQ(host.texts[IDC_FILE_COUNT], "Logo Files : 5 / 255");
    EXPECT_EQ(dlg->currentImagePath(), dir + "/logo4.bmp");
    EXPECT_EQ(host.fileRequests[0].filters[0].name, "Bitmap Images (*.bmp)");
    EXPECT_EQ(host.fileRequests[0].filters[0].pattern, "*.bmp;*.BMP");
    EXPECT_FALSE(host.fileRequests[0].save);

    // A file that is not a bitmap is refused but still previewed; a cancelled choice changes nothing.
    const std::string bad = dir + "/notes.bmp";
    writeText(bad, "not a bitmap");
    openFile(bad);
    dlg->OnOpenFile();
    EXPECT_EQ(host.rows.size(), 5u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Out of range bitmap file.");
    EXPECT_EQ(host.messages[0].caption, "Error");
    EXPECT_EQ(dlg->currentImagePath(), bad);

    host.clickRow(0); // a click shows that logo
    const int before = host.invalidations;
    dlg->OnRowClick();
    EXPECT_EQ(dlg->currentImagePath(), dir + "/logo0.bmp");
    EXPECT_EQ(host.texts[IDC_IMAGE_HEIGHT], "Height : 50");
    EXPECT_EQ(dlg->leftView().width(), 100);
    EXPECT_GT(host.invalidations, before);

    host.clickRow(2);
    host.answers = {MessageAnswer::No}; // No to the question changes nothing
    dlg->OnRemove();
    EXPECT_EQ(host.rows.size(), 5u);
    dlg->OnRemove();
    ASSERT_EQ(host.rows.size(), 4u);
    EXPECT_EQ(host.rows[2], (Row{"2", "3", "logo3.bmp", "32"}));
    EXPECT_EQ(dlg->totalNvSize(), 728 + 512 + 32 + 16);
    EXPECT_EQ(host.texts[IDC_FILE_COUNT], "Logo Files : 4 / 255");
    EXPECT_EQ(host.texts[IDC_IMAGE_WIDTH], "Width : 100"); // the size lines keep showing what they showed

    // No row is selected any more: the next Remove asks, then says so.
    host.messages.clear();
    dlg->OnRemove();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].text, "Do you want to remove the selection?");
    EXPECT_EQ(host.messages[1].text, "There is no selected Item");
    EXPECT_EQ(host.messages[1].icon, MessageIcon::Error);

    host.answers = {MessageAnswer::No};
    dlg->OnReset();
    EXPECT_EQ(host.rows.size(), 4u);
    dlg->OnReset();
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(host.texts[IDC_SIZE_TOTAL], "Logo size total : 0 / 250 KBytes");
    EXPECT_FALSE(host.isEnabled(IDC_UPLOAD));
    EXPECT_FALSE(host.isEnabled(IDC_THRESHOLD));
}

TEST_F(DialogTest, OpenFileStopsAt255RowsTheSettingsFileDoesNotAndTransfersRefuseMore) {
    const std::string logo = bitmap("tiny.bmp", 8, 8);
    std::string ini = "[LOGO]\r\r\n";
    for (int i = 1; i <= 254; ++i)
        ini += "Logofile" + std::to_string(i) + "=" + logo + "|tiny.bmp|8|8|8\r\r\n";
    writeText(dir + "/files.ini", ini);
    start();
    openFile(logo);
    EXPECT_EQ(dlg->logoCount(), 255);
    EXPECT_EQ(host.texts[IDC_SIZE_TOTAL], "Logo size total : 2 / 250 KBytes"); // 255 × 8 bytes, counted in 1000s
    openFile(logo);
    EXPECT_EQ(dlg->logoCount(), 255);
    EXPECT_EQ(host.fileRequests.size(), 1u);
    EXPECT_EQ(lastMessage().text, "Don't read files any more.");
    EXPECT_EQ(lastMessage().caption, "Open");
    EXPECT_EQ(lastMessage().icon, MessageIcon::Exclamation);
    host.answers = {MessageAnswer::No};
    dlg->OnUpload(); // 255 may go: the question comes
    EXPECT_EQ(lastMessage().buttons, MessageButtons::YesNo);

    for (int i = 255; i <= 256; ++i)
        ini += "Logofile" + std::to_string(i) + "=" + logo + "|tiny.bmp|8|8|8\r\r\n";
    writeText(dir + "/files.ini", ini);
    start();
    ASSERT_EQ(host.rows.size(), 256u);
    EXPECT_EQ(host.rows[255][1], "256");
    // but the printer cannot take them: Upload and Save refuse before their question or file choice.
    useNetwork();
    dlg->OnUpload();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(lastMessage().text, "The printer stores at most 255 logos.");
    dlg->OnSave();
    EXPECT_EQ(lastMessage().caption, "Save");
    EXPECT_TRUE(host.fileRequests.empty());
    EXPECT_TRUE(net.ip.empty());
}

TEST_F(DialogTest, TransfersAskTheirQuestionAndCarryTheListTheFileAndThePrintRange) {
    start();
    openFile(bitmap("a.bmp", 20, 10));
    useNetwork();
    dlg->OnUpload();
    ASSERT_EQ(host.messages.size(), 2u); // the question, then the result
    EXPECT_EQ(host.messages[0].text, "Logo file is written in the NV image area of the device.\r\nPlease waiting until "
                                     "downloading completed.\r\r\r\nContinue it?");
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(host.progress.empty());
    EXPECT_EQ(net.ip, "127.0.0.1");
    EXPECT_EQ(net.port, 9100);
    ASSERT_GE(net.sent.size(), 5u);
    EXPECT_EQ(Bytes(net.sent.begin(), net.sent.begin() + 5), (Bytes{0x1B, 0x40, 0x1C, 0x71, 0x01}));
    EXPECT_EQ(net.finishes, 1);

    const std::string file = dir + "/stored.bit";
    writeText(file, std::string("\x1B\x40\x1C\x71\x00 any bytes", 15));
    net = {};
    host.fileChoices = {file};
    dlg->OnOpenFileAndDownload();
    EXPECT_EQ(net.sent, test::slurp(file));
    net = {};
    dlg->OnCommand(IDC_RANGE_SELECTION);
    dlg->OnCommand(IDC_QUALITY_DOUBLE_WIDE);
    host.texts[IDC_SELECTION_NUMBER] = "2-4";
    dlg->OnPrintout();
    ASSERT_GE(net.sent.size(), 12u);
    EXPECT_EQ(Bytes(net.sent.begin(), net.sent.begin() + 12),
              (Bytes{0x1C, 0x70, 2, 0x31, 0x1C, 0x70, 3, 0x31, 0x1C, 0x70, 4, 0x31}));

    net = {};
    host.answers = {MessageAnswer::No};
    dlg->OnUpload();
    EXPECT_TRUE(net.ip.empty()) << "No opens nothing";

    // Through the driver: the short question, and the progress runs before the printer is closed.
    useDriver("Front desk");
    host.messages.clear();
    host.events.clear();
    dlg->OnUpload();
    EXPECT_EQ(host.messages[0].text, "Logo file is written in the NV image area of the device. Continue it?");
    EXPECT_EQ(host.events, (Strings{"message:Upload", "progress:Uploading...", "spooler:close", "message:Upload"}));
    EXPECT_EQ(spooler.printer, "Front desk");
    EXPECT_FALSE(spooler.taken.empty());
}

// Each operation's last message for each outcome, in either language. Declined: No to the question, or the
// file choice cancelled.
TEST_F(DialogTest, EachOperationReportsItsOutcomeInItsCaptionAndLanguage) {
    const std::string file = dir + "/stored.bit";
    writeText(file, "\x1B\x40");
    const std::string logo = bitmap("a.bmp", 20, 10);
    enum Op { Upload, Erase, Print, Download, SaveBin, SaveHex };
    enum Fault { None, Open, Send, Finish, Declined, NoLogo };
    const char* const kEraseDone = "Upload finished, and Cleaning of NV Image completed.";
    const char* const kSendDoneKo = "전송이 완료되었습니다.\n프린터가 리셋된 후, 로고 사용이 가능합니다.";
    // The operation, the code page, whether through the driver, the outcome, the last message (none: null).
    const std::tuple<Op, unsigned, bool, Fault, const char*, const char*> cases[] = {
        {Upload, 1252, false, None, kUploadDone, "Upload"},
        {Upload, 949, true, None, kUploadDone, "Upload"},
        {Upload, 1252, false, Open, kCommError, "Upload"},
        {Upload, 949, false, Open, kCommErrorKo, "전송"},
        {Upload, 949, false, Send, kCommError, "Upload"},
        {Upload, 1252, false, Finish, kCommError, "Upload"},
        {Erase, 949, false, None, kEraseDone, "Erase"},
        {Erase, 1252, true, None, kEraseDone, "Erase"},
        {Erase, 1252, false, Send, kCommError, "Erase"},
        {Erase, 949, false, Open, kCommErrorKo, "삭제"},
        {Erase, 1252, true, Send, kCommError, "Error"},
        {Print, 1252, false, None, nullptr, ""},
        {Print, 1252, true, None, nullptr, ""},
        {Print, 1252, false, Send, kCommError, "Print"},
        {Print, 949, false, Open, kCommErrorKo, "인쇄"},
        {Download, 949, false, None, kSendDoneKo, "전송"},
        {Download, 1252, false, None, kUploadDone, "File Send"},
        {Download, 949, true, None, kUploadDone, "File Send"},
        {Download, 1252, false, Open, kCommError, "File Send"},
        {Download, 949, false, Open, kCommErrorKo, "전송"},
        {Download, 949, false, Send, kCommErrorKo, "전송 에러"},
        {Download, 1252, false, Send, kCommError, "Upload Error"},
        {Download, 949, true, Send, kCommError, "File Send"},
        {Download, 949, true, Open, kCommErrorKo, "전송"},
        {Erase, 1252, false, Declined, "NV image all Delete. Continue it?", "Erase"},
        {Download, 1252, false, Declined, "Select bit file !!!", "Open bit file"},
        {Download, 949, false, Declined, "전송할 bit 파일을 선택 바랍니다 !!!", "Bit 파일 열기"},
        {SaveHex, 1252, false, Declined, "Select text file !!!", "txt file"},
        {SaveHex, 949, false, Declined, "저장할 텍스트 파일을 선택 바랍니다 !!!", "txt 파일"},
        {SaveBin, 949, false, Declined, "저장할 bit 파일을 선택 바랍니다 !!!", "bit 파일"},
        {SaveBin, 1252, false, NoLogo, "Syntax error. Can not be saved.", "Save"},
        {SaveBin, 949, false, NoLogo, "Syntax 에러. 저장할 수 없습니다.", "저장"},
    };
    for (const auto& [op, codePage, driver, fault, text, caption] : cases) {
        SCOPED_TRACE(std::to_string(op) + "/" + std::to_string(codePage) + "/" + std::to_string(driver) + "/" +
                     std::to_string(fault));
        host.codePage = codePage;
        spooler.openOk = !(driver && fault == Open);
        spooler.failAtCall = driver && fault == Send ? std::optional<int>(0) : std::nullopt;
        spooler.writeCalls = 0;
        net = {};
        net.connectResult = !driver && fault == Open ? -1 : 0;
        net.sendOk = driver || fault != Send;
        net.finishResult = fault == Finish ? 0 : 1;
        start();
        if (fault != NoLogo) openFile(logo);
        driver ? useDriver("Front desk") : useNetwork();
        host.select(IDC_SAVE_FORMAT, op == SaveHex ? 1 : 0);
        host.messages.clear();
        host.fileChoices = {fault == Declined ? std::nullopt : std::optional(file)};
        host.answers = {fault == Declined ? MessageAnswer::No : MessageAnswer::Yes};
        const auto ops = std::array{&CNVUploadDlg::OnUpload,   &CNVUploadDlg::OnErase,
                                    &CNVUploadDlg::OnPrintout, &CNVUploadDlg::OnOpenFileAndDownload,
                                    &CNVUploadDlg::OnSave,     &CNVUploadDlg::OnSave};
        ((*dlg).*ops[op])();
        // A transfer through the driver shows its progress window, each operation its own.
        const std::pair<std::string, int> progress[] = {
            {"Uploading...", 750}, {"Erasing...", 750}, {"PrintOut", 100}, {"Uploading...", 750}};
        if (driver && fault == None) {
            EXPECT_EQ(host.progress, (std::vector{progress[op]}));
        }
        ASSERT_EQ(host.messages.empty(), !text);
        if (!text) continue;
        EXPECT_EQ(lastMessage().text, text);
        EXPECT_EQ(lastMessage().caption, caption);
        if (fault < Declined) {
            EXPECT_EQ(lastMessage().icon, fault == None ? MessageIcon::Information : MessageIcon::Error);
        } else {
            EXPECT_TRUE(net.ip.empty()) << "nothing is opened";
        }
    }
    EXPECT_EQ(test::slurp(file), (Bytes{0x1B, 0x40})) << "a save without logos writes nothing";
}

TEST_F(DialogTest, NothingIsSentWhenAnOperationCannotGoOn) {
    start();
    const std::string a = bitmap("a.bmp", 20, 10), b = bitmap("b.bmp", 20, 10);
    openFile(a);
    openFile(b);
    // An earlier transfer left the port kind at the network port; a failed driver open must not write there.
    useNetwork();
    dlg->OnErase();
    const std::size_t sentBefore = net.sent.size();
    spooler.openOk = false;
    useDriver("Gone");
    for (auto op : {&CNVUploadDlg::OnUpload, &CNVUploadDlg::OnErase, &CNVUploadDlg::OnPrintout}) {
        host.messages.clear();
        host.progress.clear();
        ((*dlg).*op)();
        EXPECT_EQ(lastMessage().text, kCommError);
        EXPECT_TRUE(host.progress.empty());
    }
    EXPECT_EQ(lastMessage().caption, "Print");
    EXPECT_EQ(net.sent.size(), sentBefore);
    EXPECT_TRUE(spooler.taken.empty());

    // A logo that cannot be converted stops the upload before the port is opened.
    host.checks[IDC_USE_DRIVER] = false;
    dlg->OnCommand(IDC_USE_DRIVER);
    std::filesystem::remove(b);
    net = {};
    host.messages.clear();
    dlg->OnUpload();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(test::holds(lastMessage().text, "b.bmp"));
    EXPECT_EQ(lastMessage().caption, "Upload");
    EXPECT_EQ(lastMessage().icon, MessageIcon::Error);
    EXPECT_TRUE(net.ip.empty());
}

TEST_F(DialogTest, SaveNamesTheFileByItsFormatAndSaysWhatFailed) {
    start();
    const std::string logo = bitmap("ten.bmp", 10, 10);
    openFile(logo);
    host.fileChoices = {dir + "/logo", dir + "/logo.bit", dir + "/logo.BIT"};
    for (int i = 0; i < 3; ++i)
        dlg->OnSave();
    // Listed, not probed: a probe for logo.bit.bit finds logo.BIT.bit where names ignore case.
    std::vector<std::string> saved;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".bit") saved.push_back(entry.path().filename().string());
    std::sort(saved.begin(), saved.end());
    EXPECT_EQ(saved, (std::vector<std::string>{"logo.BIT.bit", "logo.bit"}));
    EXPECT_EQ(lastMessage().text, "Save finished.");
    const FileDialogRequest& r = host.fileRequests.back();
    EXPECT_TRUE(r.save && r.promptOverwrite && r.startInCurrentDirectory);
    EXPECT_EQ(r.title, "Save bit File");
    EXPECT_EQ(r.filters[0].name, "bit image File(*.bit)");
    EXPECT_EQ(r.maxPathLength, 255);

    host.select(IDC_SAVE_FORMAT, 1);
    host.fileChoices = {dir + "/logo"};
    dlg->OnSave();
    const std::string hex = test::slurpText(dir + "/logo.txt");
    EXPECT_EQ(hex.size(), 123u);
    EXPECT_EQ(hex.substr(0, 27), "1B 40 1C 71 01 02 00 02 00 ");
    EXPECT_EQ(host.fileRequests.back().title, "Save text File");

    // A logo that cannot be converted, then a file that cannot be written, is named.
    std::filesystem::remove(logo);
    host.fileChoices = {dir + "/out"};
    dlg->OnSave();
    EXPECT_TRUE(test::holds(lastMessage().text, "ten.bmp"));
    EXPECT_EQ(lastMessage().icon, MessageIcon::Error);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.txt"));
    bitmap("ten.bmp", 10, 10);
    host.fileChoices = {dir + "/no/such/dir/out"};
    dlg->OnSave();
    EXPECT_TRUE(test::holds(lastMessage().text, "out.txt"));
}

TEST_F(DialogTest, CloseWritesBothSettingsFilesByteForByteAndTheNextStartReadsThem) {
    // A hand-edited list (CR LF, a blank line, "=" in the path) is read, and written back in the house form.
    const std::string a = bitmap("a=b.bmp", 100, 50), b = bitmap("b.bmp", 64, 64);
    writeText(dir + "/files.ini", "[LOGO]\r\nLogofile1=" + a + "|a=b.bmp|728|50|100\r\n\r\n");
    start();
    openFile(b);
    host.select(IDC_PORT, 3);   // TCP/IP
    host.select(IDC_PARITY, 2); // ODD
    dlg->OnClose();
    EXPECT_EQ(test::slurpText(dir + "/files.ini"),
              "[LOGO]\r\r\nLogofile1=" + a + "|a=b.bmp|728|50|100\r\r\nLogofile2=" + b + "|b.bmp|512|64|64\r\r\n");
    EXPECT_EQ(
        test::slurpText(dir + "/nvupload.ini"),
        "[LOGO]\r\r\nPort=3\r\r\nBaudRate=3\r\r\nBitLength=0\r\r\nParity=2\r\r\nStopBit=0\r\r\nHandShake=0\r\r\n");

    start();
    EXPECT_EQ(host.rows, (std::vector<Row>{{"0", "1", "a=b.bmp", "728"}, {"1", "2", "b.bmp", "512"}}));
    EXPECT_EQ(host.texts[IDC_SIZE_TOTAL], "Logo size total : 1 / 250 KBytes");
    // The previews show the last logo read, while no path is current yet.
    EXPECT_EQ(host.texts[IDC_IMAGE_WIDTH], "Width : 64");
    EXPECT_EQ(dlg->leftView().width(), 64);
    EXPECT_TRUE(dlg->currentImagePath().empty());
    EXPECT_TRUE(host.isEnabled(IDC_UPLOAD));
    EXPECT_EQ(host.selectedItem(IDC_PORT), "TCP/IP");
    EXPECT_EQ(host.selectedItem(IDC_PARITY), "ODD");

    // A file that cannot be written is named, and closing goes on.
    host.directory = dir + "/missing/";
    dlg->OnClose();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(test::holds(host.messages[0].text, "files.ini"));
    EXPECT_TRUE(test::holds(host.messages[1].text, "nvupload.ini"));

    host.directory = dir + "/";
    dlg->OnReset();
    host.select(IDC_BAUD_RATE, -1);
    dlg->OnClose();
    EXPECT_EQ(test::slurp(dir + "/files.ini").size(), 0u);
    EXPECT_TRUE(test::holds(test::slurpText(dir + "/nvupload.ini"), "BaudRate=-1\r\r\n"));
}

TEST_F(DialogTest, PreviewsFitTheFrameClearWhatALargerPictureLeftAndConvertAtEveryPaint) {
    start();
    EXPECT_FALSE(dlg->layoutPreviews(189, 155).draw);
    // Picture width and height, drawn width and height.
    const std::array<int, 4> cases[] = {
        {100, 80, 100, 80}, {300, 200, 189, 126}, {400, 380, 163, 155}, {100, 300, 51, 155}, {191, 100, 188, 98}};
    for (const auto& [w, h, dw, dh] : cases) {
        openFile(bitmap("fit.bmp", w, h));
        const PreviewLayout layout = dlg->layoutPreviews(189, 155);
        EXPECT_TRUE(layout.draw);
        EXPECT_EQ(layout.drawWidth, dw) << w << "x" << h;
        EXPECT_EQ(layout.drawHeight, dh) << w << "x" << h;
        EXPECT_EQ(layout.sourceWidth, w);
    }
    openFile(bitmap("big.bmp", 300, 200));
    EXPECT_TRUE(dlg->layoutPreviews(189, 155).strips.empty());
    openFile(bitmap("small.bmp", 100, 80));
    const PreviewLayout layout = dlg->layoutPreviews(189, 155);
    ASSERT_EQ(layout.strips.size(), 2u);
    EXPECT_EQ(std::tie(layout.strips[0].left, layout.strips[0].right, layout.strips[0].bottom),
              std::make_tuple(100, 189, 126));
    EXPECT_EQ(std::tie(layout.strips[1].top, layout.strips[1].right, layout.strips[1].bottom),
              std::make_tuple(80, 189, 126));
    EXPECT_TRUE(dlg->layoutPreviews(189, 155).strips.empty());

    // The right-hand preview is converted at every paint with the mode, the slider and the listed depth. A
    // grey logo: error diffusion gives a pattern, threshold a flat result.
    dlg->OnReset();
    openFile(bitmap("grey.bmp", 32, 16, {128, 128, 128}));
    dlg->OnCommand(IDC_ERROR_DIFFUSION);
    host.clickRow(-1);
    dlg->layoutPreviews(189, 155);
    const auto diffused = *dlg->rightView().readPixels();
    dlg->layoutPreviews(189, 155);
    EXPECT_EQ(*dlg->rightView().readPixels(), diffused) << "repeated paints drift";

    LogoBitmap thresholded;
    thresholded.copyFrom(&dlg->leftView());
    ASSERT_TRUE(convertForPreview(thresholded, 0, 5, 24));
    EXPECT_NE(diffused, *thresholded.readPixels());

    // With its row selected and recorded as 1 bit deep, the logo is thresholded in every mode.
    const_cast<LogoEntry&>(dlg->logoList()[0]).bitsPerPixel = 1;
    host.clickRow(0);
    dlg->layoutPreviews(189, 155);
    EXPECT_EQ(*dlg->rightView().readPixels(), *thresholded.readPixels());

    host.sliderPos = 10; // the slider's position is read at the paint
    dlg->layoutPreviews(189, 155);
    EXPECT_EQ(dlg->brightness(), 10);
}

TEST(PrintOptions, SelectionTextGivesFirstAndLast) {
    using P = std::pair<int, int>;
    EXPECT_EQ(readSelection("3"), (P{3, 0}));
    EXPECT_EQ(readSelection("2-5"), (P{2, 5}));
    EXPECT_EQ(readSelection("-4"), (P{-4, 0}));
    EXPECT_EQ(readSelection("7-"), (P{7, 0}));
    EXPECT_EQ(readSelection(""), (P{0, 0}));
    EXPECT_EQ(readSelection("abc"), (P{0, 0}));
    EXPECT_EQ(readSelection(" 2 - 9x-12"), (P{2, 9})) << "blanks before a number are skipped, text after it ignored";
    EXPECT_EQ(readSelection("1-2-3"), (P{1, 2}));
    EXPECT_EQ(readSelection("99999999999"), (P{2147483647, 0}));
    EXPECT_EQ(readSelection("-99999999999"), (P{-2147483647 - 1, 0}));
}

} // namespace
} // namespace tessera
