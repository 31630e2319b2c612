#pragma once

#include <windows.h>

#include "control/UserDialogs.h"

namespace tallyport {

class ConsoleLog;

namespace desktop {

// The user's dialogs as Windows has them: message boxes (owned by the main window while it
// shows, on top of everything while it is hidden) and the common file-open dialog; the log
// line goes to standard error. User-interface thread only; the log is not owned.
class Win32Dialogs final : public UserDialogs {
public:
    explicit Win32Dialogs(ConsoleLog& log) : log_(log) {}

    // The window that owns the boxes while it is visible.
    void SetOwner(HWND owner) { owner_ = owner; }

    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> ChooseFile(const std::string& startDir) override;
    void Log(const std::string& text) override;
    void DismissMessage() override;

private:
    HWND Owner() const;
    int Box(const std::string& text, const wchar_t* title, UINT style);

    ConsoleLog& log_;
    HWND owner_ = nullptr;
};

}  // namespace desktop
}  // namespace tallyport
