#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app_win32/ConnectorIcons_win32.h"
#include "app_win32/TrayIcon_win32.h"
#include "control/DesktopProgram.h"
#include "control/ShellView.h"

namespace tallyport {

class ConsoleLog;

namespace desktop {

class Win32Dialogs;

// The main window of the desktop program with its tray icon: the five tabs (the register grid
// and its buttons, the scale barcode prefix, the back-office file names, the card limits and
// recording options, the author page), connect, help and exit. It draws and forwards: what a
// command does is the control library's (DesktopSession). Owns the tray icon and the session
// (which owns the workers). User-interface thread only; the tray's notices from any thread.
class TfMain final : public ShellView {
public:
    TfMain(HINSTANCE instance, std::string configPath, Win32Dialogs& dialogs, ConsoleLog& log,
           ProgramHandlers handlers, std::string filesFolder, std::string helpFolder);
    ~TfMain() override;
    TfMain(const TfMain&) = delete;
    TfMain& operator=(const TfMain&) = delete;

    HWND Handle() const { return window_; }
    DesktopSession& Session() { return *session_; }

    // The start-up handler; shows the window when no notification area holds the tray icon.
    TConnectionControl::StartupResult Startup();

    // ShellView
    void PrepareStartup() override;
    void ShowSettings(const AppSettingsRecord& settings) override;
    void TakeSettings(AppSettingsRecord& settings) override;
    void ShowRegisterList() override;
    void ShowConnectState(bool connected) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);

    // Makes a control on page `page` (-1: on the window itself) with the identifier `id`.
    HWND Add(const wchar_t* kind, const wchar_t* text, DWORD style, int id, int page,
             DWORD exStyle = 0);
    HWND Item(int id) const;
    std::string TextOf(int id) const;  // UTF-8
    void SetText(int id, const std::string& utf8);
    void BuildControls();
    void BuildGrid();
    void Layout();
    void ShowPage(int page);
    int TextWidth(const std::wstring& text, HFONT font = nullptr) const;
    int Scaled(int designed) const;

    void Command(int id, int code);
    void TrayMessage(UINT mouse);
    void ShowTrayMenu();
    void ShowTrayWhenAvailable();
    void RefreshStatus();
    void RefreshGrid();
    void GridTip(NMLVGETINFOTIPW& tip);

    void aOptionsExecute();
    void aExitExecute();
    void EndProgram();
    void btHelpClick();
    void OpenRegisterDialog(bool edit);
    void btDeleteClick();
    void Browse(int editId);
    void eParamEditExit();
    std::optional<std::size_t> CurrentGridRow() const;

    HINSTANCE instance_;
    Win32Dialogs& dialogs_;
    std::string filesFolder_;
    std::string helpFolder_;
    HWND window_ = nullptr;
    HWND tabs_ = nullptr;
    HWND grid_ = nullptr;
    HMENU trayMenu_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bigFont_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBRUSH white_ = nullptr;
    int lineHeight_ = 13;
    int charWidth_ = 5;
    UINT taskbarCreated_ = 0;
    bool placed_ = false;
    bool menuFromClick_ = false;  // the tray menu was opened by WM_RBUTTONUP
    std::vector<HWND> pages_;     // one window per tab, holding its controls
    std::map<int, HWND> items_;   // every control by its identifier
    std::vector<RegisterGridRow> rows_;
    ConnectorIcons icons_;

    // Declared last: destroyed first, so the workers stop before the tray they notify goes.
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<DesktopSession> session_;
};

}  // namespace desktop
}  // namespace tallyport
