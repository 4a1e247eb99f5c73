#pragma once
// A toolkit for the main window's behaviour that records everything: control state by id, the message
// boxes with scripted answers, the file dialogs with scripted choices, the progress windows, and one
// ordered event log that the fake ports can write into too.

#include "app/dialog_host.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tessera::test {

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
    std::vector<std::array<std::string, 4>> rows;
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

    bool isEnabled(int id) const {
        auto it = enabled.find(id);
        return it == enabled.end() || it->second;
    }
    std::string selectedItem(int id) const {
        const auto& c = combos.at(id);
        return c.selection >= 0 ? c.items[static_cast<std::size_t>(c.selection)] : std::string();
    }
    void select(int id, int index) { combos[id].selection = index; }
    void clickRow(int row) { selectionMark = row; }

    void setText(int id, const std::string& t) override { texts[id] = t; }
    std::string text(int id) override { return combos.count(id) ? selectedItem(id) : texts[id]; }
    void enable(int id, bool e) override { enabled[id] = e; }
    void setCheck(int id, bool c) override { checks[id] = c; }
    bool isChecked(int id) override { return checks[id]; }
    void addComboItem(int id, const std::string& item) override { combos[id].items.push_back(item); }
    int comboCount(int id) override { return static_cast<int>(combos[id].items.size()); }
    std::string comboItem(int id, int index) override {
        auto& items = combos[id].items;
        return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(index)] : "";
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
    void insertListRow(int row, const std::array<std::string, 4>& columns) override {
        rows.insert(rows.begin() + row, columns);
    }
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

} // namespace tessera::test
