#pragma once

// The desktop program's windows seen from another process, for the Windows suites and the
// screenshot tour: finding its main window, its dialogs and message boxes, reading their
// controls and pressing their buttons through messages. Free functions; the caller's thread.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "app_win32/DesktopIds.h"

namespace tallyport::test::desktop {

// The text control of a message box; the file name box of the file-open dialog (cmb13).
inline constexpr int kMessageBoxText = 0xFFFF;
inline constexpr int kFileNameBox = 0x47C;

struct Search {
    DWORD pid;
    const wchar_t* windowClass;
    const wchar_t* caption;  // null: any
    HWND found = nullptr;
};

inline BOOL CALLBACK Match(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (pid != search->pid || std::wstring(name) != search->windowClass) {
        return TRUE;
    }
    if (search->caption) {
        wchar_t caption[256] = {};
        ::GetWindowTextW(window, caption, 256);
        if (std::wstring(caption) != search->caption) {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

// A top-level window of process `pid`; a dialog or message box must also be visible.
inline HWND FindTopLevel(DWORD pid, const wchar_t* windowClass, const wchar_t* caption) {
    Search search{pid, windowClass, caption};
    ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits (looking every 10 ms, at most `limit`) for a top-level window of `pid`.
inline HWND WaitForWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* caption,
                          std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        HWND window = FindTopLevel(pid, windowClass, caption);
        if (window && (std::wstring(windowClass) != L"#32770" || ::IsWindowVisible(window))) {
            return window;
        }
        if (std::chrono::steady_clock::now() > end) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A visible dialog of `pid` that is not `besides` (the file-open dialog, whatever its caption).
struct OtherSearch {
    DWORD pid;
    HWND besides;
    HWND found = nullptr;
};
inline BOOL CALLBACK MatchOther(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<OtherSearch*>(data);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (pid == search->pid && window != search->besides && std::wstring(name) == L"#32770" &&
        ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
inline HWND WaitForOtherDialog(DWORD pid, HWND besides,
                               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        OtherSearch search{pid, besides};
        ::EnumWindows(MatchOther, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            return search.found;
        }
        if (std::chrono::steady_clock::now() > end) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline HWND WaitForMain(DWORD pid) {
    return WaitForWindow(pid, TALLYPORT_MAIN_CLASS, nullptr);
}

// A dialog or a message box of `pid` with the caption `caption`.
inline HWND WaitForDialog(DWORD pid, const wchar_t* caption,
                          std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitForWindow(pid, L"#32770", caption, limit);
}

// The control `id` of a window, on any of its pages (dialog items, or the main window's
// controls inside the windows of its tabs).
struct ItemSearch {
    int id;
    HWND found = nullptr;
};
inline BOOL CALLBACK MatchItem(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ItemSearch*>(data);
    if (::GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
inline HWND Item(HWND window, int id) {
    ItemSearch search{id};
    ::EnumChildWindows(window, MatchItem, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

inline std::wstring ItemText(HWND dialog, int id) {
    return Text(Item(dialog, id));
}

inline void SetItemText(HWND dialog, int id, const std::wstring& text) {
    ::SendMessageW(Item(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

inline bool IsChecked(HWND dialog, int id) {
    return ::SendMessageW(Item(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Presses a button as a click does, without waiting for what it opens (a modal dialog).
inline void Press(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Item(dialog, id)));
}

// The message box of `pid` that shows now (any caption), its text, and its answer.
inline HWND WaitForMessageBox(DWORD pid, const wchar_t* caption) {
    return WaitForDialog(pid, caption);
}

// Waits until `window` is gone (at most `limit`).
inline bool WaitUntilGone(HWND window, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Returns once the window's thread has done what it was doing (a save after a dialog closed):
// a message sent from another thread is taken when the thread looks for messages again.
inline void Settle(HWND window) {
    ::SendMessageW(window, WM_NULL, 0, 0);
}

// A cell of the register grid, read through memory lent in the program's process (the list
// view's messages carry pointers, which do not cross processes by themselves).
inline std::wstring GridCell(HWND main, int row, int column) {
    HWND grid = Item(main, IDC_GRID);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(grid, &pid);
    HANDLE process =
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) {
        return L"(no access)";
    }
    constexpr std::size_t kChars = 512;
    const std::size_t size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
    auto* remote = static_cast<char*>(
        ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kChars;
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    ::WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
    ::SendMessageW(grid, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(remote));
    wchar_t text[kChars] = {};
    ::ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof text, nullptr);
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    text[kChars - 1] = L'\0';
    return text;
}

inline int GridRows(HWND main) {
    return static_cast<int>(::SendMessageW(Item(main, IDC_GRID), LVM_GETITEMCOUNT, 0, 0));
}

}  // namespace tallyport::test::desktop
