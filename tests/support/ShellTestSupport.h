#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/ShellView.h"
#include "control/UserDialogs.h"
#include "store/AppSettings.h"
#include "support/NoticeRecorder.h"
#include "support/TempFolder.h"

namespace tallyport::test {

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// A line of the register list: register `logicalNb`, a Datecs MP55 on `port` at 9600 bits per
// second with 8 data bits, `parity` and 1 stop bit, fiscal series "DA0<n>", cash point "CASA <n>".
inline std::string RegisterLine(int logicalNb, const std::string& port,
                                const std::string& parity = "None") {
    return std::to_string(logicalNb) + ",Datecs MP55,9600,8," + parity + ",1," + port + ",DA0" +
           std::to_string(logicalNb) + ",CASA " + std::to_string(logicalNb) + "\r\n";
}

// Fresh settings whose files (article file, receipt files, register list) lie in `dir`, with
// the options these suites run with.
inline void UseSettingsIn(const TempFolder& dir) {
    AppSettings = AppSettingsRecord{};
    AppSettings.PLU = dir.File("PLU.txt");
    AppSettings.ReceiptMaster = dir.File("Bon.txt");
    AppSettings.ReceiptDetail = dir.File("Tran.txt");
    AppSettings.Backup = "\\Backup\\";
    AppSettings.ECRList = dir.File("ECRs.dat");
    AppSettings.Max = 100000000;
    AppSettings.Prefix = 24;
    AppSettings.RecDiscount = true;
    AppSettings.RecAmount = true;
}

struct Shown {
    MessageKind kind;
    std::string text;
};

// Records every message and question; answers questions from a queue (Yes when empty) and the
// file dialog from another (cancelled when empty). `onMessage` runs while a message "is shown".
class FakeDialogs final : public UserDialogs {
public:
    void ShowMessage(MessageKind kind, const std::string& text) override {
        messages.push_back({kind, text});
        if (onMessage) {
            onMessage(messages.back());
        }
    }
    bool Confirm(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) {
            return true;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseFile(const std::string& startDir) override {
        fileDialogDirs.push_back(startDir);
        if (files.empty()) {
            return std::nullopt;
        }
        auto file = files.front();
        files.pop_front();
        return file;
    }
    void Log(const std::string& text) override { logLines.push_back(text); }
    void DismissMessage() override { ++dismissed; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) {
            texts.push_back(m.text);
        }
        return texts;
    }

    std::vector<Shown> messages;
    std::vector<std::string> questions;
    std::deque<bool> answers;
    std::deque<std::optional<std::string>> files;
    std::vector<std::string> fileDialogDirs;
    std::vector<std::string> logLines;
    std::function<void(const Shown&)> onMessage;
    int dismissed = 0;
};

// A view without widgets: records what the control shows.
class FakeView final : public ShellView {
public:
    void PrepareStartup() override { ++prepared; }
    void ShowSettings(const AppSettingsRecord& settings) override {
        shownSettings.push_back(settings);
    }
    void TakeSettings(AppSettingsRecord& settings) override {
        ++taken;
        if (change) {
            change(settings);
        }
    }
    void ShowRegisterList() override { ++listShown; }
    void ShowConnectState(bool connected) override { states.push_back(connected); }

    int prepared = 0;
    int taken = 0;
    int listShown = 0;
    std::vector<AppSettingsRecord> shownSettings;
    std::vector<bool> states;
    std::function<void(AppSettingsRecord&)> change;
};

}  // namespace tallyport::test
