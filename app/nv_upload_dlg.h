#pragma once
// The main window's behaviour: start-up, the logo list, the previews' state, the print options, the
// printer operations with their questions and messages, and the settings files. It drives the controls
// only through a DialogHost, so the same code runs in the Windows dialog and against the tests' fake.

#include "app/dialog_host.h"
#include "app/logo_entry.h"
#include "image/logo_bitmap.h"
#include "port/port_settings.h"
#include "printer/nv_operation.h"
#include "printer/nv_upload_ctrl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessera {

// What a paint of the previews draws, for a frame of the given size: both images at dw × dh from the
// frames' top-left corners, then the strips (relative to each frame's corner) filled with the button-face
// colour where a larger earlier picture lay.
struct PreviewStrip {
    int left, top, right, bottom;
};
struct PreviewLayout {
    bool draw = false;
    int drawWidth = 0;
    int drawHeight = 0;
    int sourceWidth = 0; // the part of both images that is drawn: (0, 0, sourceWidth, sourceHeight)
    int sourceHeight = 0;
    std::vector<PreviewStrip> strips;
};

class CNVUploadDlg {
  public:
    CNVUploadDlg(DialogHost& host, const PortSet& ports, PortDispatcher::Sleep sleep = {});
    CNVUploadDlg(const CNVUploadDlg&) = delete;
    CNVUploadDlg& operator=(const CNVUploadDlg&) = delete;

    // The start-up steps; the host has created the controls and the list view's columns.
    bool OnInitDialog();
    // A click on a button, radio button or check box, by control id; false for an id it does not handle.
    bool OnCommand(int id);
    // The port list's selection changed.
    void OnPortSelectionChanged();
    // The mouse released the brightness slider.
    void OnSliderReleased();
    // A click in the logo list.
    void OnRowClick();
    // The close request (the close box, the system menu or Exit): writes both settings files. The host then
    // ends the dialog.
    void OnClose();

    // Converts the right image for this paint and says how to draw both; frameWidth × frameHeight is the
    // left frame's size in pixels.
    PreviewLayout layoutPreviews(int frameWidth, int frameHeight);
    const LogoBitmap& leftView() const { return leftView_; }
    const LogoBitmap& rightView() const { return rightView_; }

    // The handlers behind OnCommand, for hosts that route them one by one.
    void OnOpenFile();
    void OnRemove();
    void OnReset();
    void OnUpload();
    void OnErase();
    void OnPrintout();
    void OnSave();
    void OnOpenFileAndDownload();

    // State, as the tests and the paint see it.
    const std::vector<LogoEntry>& logoList() const { return logoList_; }
    int logoCount() const { return logoCount_; }
    std::int64_t totalNvSize() const { return totalNvSize_; }
    int halftoneMode() const { return halftoneMode_; }
    int brightness() const { return brightness_; }
    int quality() const { return quality_; }
    int printRange() const { return printRange_; }
    const std::string& currentImagePath() const { return currentImagePath_; }
    unsigned codePage() const { return codePage_; }

    static constexpr int kMaxListedLogos = 255;

  private:
    void add(const std::string& displayName, const std::string& filePath);
    void insertRow(int row, const LogoEntry& entry);
    void showLogo(const std::string& path);
    void refreshConverted(const std::string& path);
    void refreshViews();
    void refreshCounters();
    void refreshSizeLines(int width, int height);
    void enableEntryButtons(bool enabled);
    void resetState();
    int enumeratePrinters();
    void fillPortLists();
    void applyPortRule();
    void applyDriverRule();
    int readBrightness();
    PortSettings readPortSettings();
    std::vector<std::string> logoPaths() const;
    bool korean() const { return codePage_ == 949; }
    // The message of a driver or port that could not be opened, in the operation's caption.
    void showOpenFailure(const char* caption, const char* koreanCaption);

    void readLogoList();
    void readPortSelections();
    void writeSettingsFile(const std::string& name, const std::string& bytes);

    // Runs one writer through the transport; in driver mode the progress window runs after the writer,
    // before the driver is closed.
    TransferResult transfer(const PortSettings& settings, const std::string& progressCaption, int progressStepMs,
                            const std::function<int(CNVUploadCtrl&)>& writer);

    DialogHost& host_;
    CNVUploadCtrl ctrl_;
    int logoCount_ = 0;
    int halftoneMode_ = 0;
    int brightness_ = 5;
    std::string currentImagePath_;
    std::vector<LogoEntry> logoList_;
    int quality_ = 0;
    int printRange_ = 0;
    std::int64_t totalNvSize_ = 0;
    unsigned codePage_ = 0;
    LogoBitmap leftSource_, leftView_, rightSource_, rightView_;
    int lastPreviewWidth_ = 0;
    int lastPreviewHeight_ = 0;
};

} // namespace tessera
