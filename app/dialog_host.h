#pragma once
// What the main window's behaviour needs from a toolkit: its controls by id, message boxes, file dialogs,
// the progress window, the splash, a repaint and a few facts of the system. The Windows dialog implements
// it on real controls; the tests implement it with a fake. Every string is UTF-8; a host converts at its
// edge.

#include "app/printer_models.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tessera {

enum class MessageIcon { None, Information, Question, Exclamation, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct FileFilter {
    std::string name;    // "Bitmap Images (*.bmp)"
    std::string pattern; // "*.bmp;*.BMP"
};

struct FileDialogRequest {
    bool save = false;
    std::string title;             // empty: the system's own title
    std::vector<FileFilter> filters;
    bool hideReadOnly = true;
    bool promptOverwrite = false;
    bool startInCurrentDirectory = false;
    int maxPathLength = 260;       // the longest path the caller takes
};

class DialogHost {
  public:
    virtual ~DialogHost() = default;

    // Text of an edit, a static text, the IP address control ("a.b.c.d") or a combo box's selected item.
    virtual void setText(int id, const std::string& text) = 0;
    virtual std::string text(int id) = 0;
    virtual void enable(int id, bool enabled) = 0;
    virtual void setCheck(int id, bool checked) = 0;
    virtual bool isChecked(int id) = 0;

    // Drop-down lists: items in the order added (never sorted); selection −1 is none.
    virtual void addComboItem(int id, const std::string& item) = 0;
    virtual int comboCount(int id) = 0;
    virtual std::string comboItem(int id, int index) = 0;
    virtual void setComboSelection(int id, int index) = 0;
    virtual int comboSelection(int id) = 0;

    // The slider.
    virtual void setSliderRange(int id, int minimum, int maximum, int pageSize) = 0;
    virtual void setSliderPosition(int id, int position) = 0;
    virtual int sliderPosition(int id) = 0;
    virtual int sliderMaximum(int id) = 0;

    // The logo list view, four columns.
    virtual void insertListRow(int row, const std::array<std::string, 4>& columns) = 0;
    virtual void deleteAllListRows() = 0;
    // The row most recently selected, −1 when none.
    virtual int listSelectionMark() = 0;

    virtual MessageAnswer messageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                                     MessageIcon icon) = 0;
    // The chosen full path, or none when the operator cancelled.
    virtual std::optional<std::string> fileDialog(const FileDialogRequest& request) = 0;
    // Shows the progress window with the caption over the main window, moves its bar through the five
    // timed steps (1, 25, 49, 73, 97, each held stepMs) and closes it.
    virtual void runProgress(const std::string& caption, int stepMs) = 0;
    virtual void showSplash() = 0;
    virtual void hideSplash() = 0;
    virtual void sleep(int milliseconds) = 0;
    // Asks for a repaint of the whole window without erasing it.
    virtual void invalidate() = 0;

    virtual unsigned ansiCodePage() = 0;
    // The directory of the running program, ending in its path separator.
    virtual std::string executableDirectory() = 0;
    // The spooler's local printers, in its order; none when it returned no records.
    virtual std::vector<InstalledPrinter> installedPrinters() = 0;
    // The settings files store paths in the system's code page; these convert a UTF-8 text to the stored
    // bytes and back.
    virtual std::string toStoredText(const std::string& text) = 0;
    virtual std::string fromStoredText(const std::string& bytes) = 0;
};

} // namespace tessera
