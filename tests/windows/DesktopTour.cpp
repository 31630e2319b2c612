// Drives a running tallyport-desktop.exe for the screenshot tour (scripts/screenshots-windows.sh):
// one step per run, through the window's messages, as a user's clicks would.
//   tallyport-desktop-tour wait            until the main window is there
//   tallyport-desktop-tour show            "Optiuni..." (the tray icon's double click)
//   tallyport-desktop-tour tab N           the tab N (0 to 4)
//   tallyport-desktop-tour disconnect      the connect button while connected
//   tallyport-desktop-tour dialog add|edit "&Adauga" or "&Modifica"
//   tallyport-desktop-tour escape          Escape to the window in front (a dialog, a menu)
//   tallyport-desktop-tour traymenu X Y    the tray menu, as a right click at X, Y opens it
//   tallyport-desktop-tour close           "Iesire", until its question shows
//   tallyport-desktop-tour yes             Yes to the question that shows
// Exit status 0 when the step was done, 1 otherwise.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "DesktopWindows.h"

namespace {

namespace ui = tallyport::test::desktop;

HWND MainWindow() {
    for (int i = 0; i < 2000; ++i) {
        if (HWND main = ::FindWindowW(TALLYPORT_MAIN_CLASS, nullptr)) {
            return main;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    return pid;
}

void Key(WORD key) {
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = key;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, input, sizeof(INPUT));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(
            "tallyport-desktop-tour wait|show|tab N|disconnect|dialog add|edit|escape|"
            "traymenu X Y|close|yes\n",
            stderr);
        return 2;
    }
    const std::string step = argv[1];
    HWND main = MainWindow();
    if (!main) {
        std::fputs("no tallyport-desktop window\n", stderr);
        return 1;
    }
    if (step == "wait") {
        return 0;
    }
    if (step == "show") {
        ::SendMessageW(main, WM_COMMAND, IDM_OPTIONS, 0);
    } else if (step == "tab" && argc > 2) {
        // As a click on the tab: the tab control tells its parent.
        HWND tabs = ui::Item(main, IDC_TABS);
        ::SendMessageW(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(std::atoi(argv[2])), 0);
    } else if (step == "disconnect") {
        if (ui::ItemText(main, IDC_CONNECT) == L"&Deconectare") {
            ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
        }
    } else if (step == "dialog" && argc > 2) {
        const bool edit = std::string(argv[2]) == "edit";
        ui::Press(main, edit ? IDC_EDIT : IDC_INSERT);
        return ui::WaitForDialog(ProcessOf(main), edit ? L"Editare casa de marcat..."
                                                       : L"Adaugare casa de marcat...")
                   ? 0
                   : 1;
    } else if (step == "escape") {
        Key(VK_ESCAPE);
    } else if (step == "traymenu" && argc > 3) {
        ::SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]));
        ::PostMessageW(main, TALLYPORT_TRAY_MESSAGE, TALLYPORT_TRAY_ID, WM_RBUTTONUP);
    } else if (step == "close") {
        ui::Press(main, IDC_CLOSE);
        return ui::WaitForDialog(ProcessOf(main), L"Confirmare") ? 0 : 1;
    } else if (step == "yes") {
        HWND box = ui::WaitForDialog(ProcessOf(main), L"Confirmare");
        if (!box) {
            return 1;
        }
        ui::Press(box, IDYES);
        return 0;
    } else {
        std::fprintf(stderr, "unknown step %s\n", step.c_str());
        return 2;
    }
    ui::Settle(main);
    return 0;
}
