#include "app_win32/Win32Dialogs_win32.h"

#include <commdlg.h>

#include <vector>

#include "app_win32/WideText_win32.h"
#include "base/Win32Text.h"
#include "control/ConsoleOutput.h"

namespace tallyport::desktop {
namespace {

// The file dialog's filter: pairs of a description and its pattern, ended by an empty pair.
constexpr wchar_t kFilter[] =
    L"Fisiere text (TXT)\0*.TXT\0Fisiere MS Excel (CSV)\0*.CSV\0Orice tip de fisiere\0*.*\0";

// The box of this thread that shows now: a dialog-class window that is enabled and visible.
BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND Win32Dialogs::Owner() const {
    return owner_ && ::IsWindowVisible(owner_) ? owner_ : nullptr;
}

int Win32Dialogs::Box(const std::string& text, const wchar_t* title, UINT style) {
    HWND owner = Owner();
    // Without a visible window (the start-up, the tray) the box must not hide behind others.
    const UINT place = owner ? MB_APPLMODAL : (MB_TOPMOST | MB_SETFOREGROUND);
    return ::MessageBoxW(owner, ShownBytes(text).c_str(), title, style | place);
}

void Win32Dialogs::ShowMessage(MessageKind kind, const std::string& text) {
    switch (kind) {
        case MessageKind::Warning:
            Box(text, L"Atentie", MB_OK | MB_ICONWARNING);
            return;
        case MessageKind::Error:
            Box(text, L"Eroare", MB_OK | MB_ICONERROR);
            return;
        case MessageKind::Information:
            break;
    }
    Box(text, L"Informatie", MB_OK | MB_ICONINFORMATION);
}

bool Win32Dialogs::Confirm(const std::string& text) {
    return Box(text, L"Confirmare", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<std::string> Win32Dialogs::ChooseFile(const std::string& startDir) {
    std::vector<wchar_t> file(4096, L'\0');
    const std::wstring start = win32::WideFromAnsi(startDir).value_or(std::wstring());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Owner();
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
    dialog.lpstrDefExt = L"TXT";
    dialog.Flags =
        OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&dialog)) {
        return std::nullopt;
    }
    // The name as the code page has it, or by its short names where a character has no byte.
    const std::string path = win32::AnsiPath(file.data());
    if (path.empty()) {
        return std::nullopt;
    }
    return path;
}

void Win32Dialogs::Log(const std::string& text) {
    log_.Line(text);
}

void Win32Dialogs::DismissMessage() {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (box) {
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

}  // namespace tallyport::desktop
