#include "app_win32/TrayIcon_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

#include "app_win32/DesktopIds.h"
#include "app_win32/WideText_win32.h"
#include "control/ConsoleOutput.h"

namespace tallyport::desktop {
namespace {

constexpr std::size_t kTitleChars = 63;
constexpr std::size_t kTextChars = 255;
constexpr std::size_t kTipChars = 127;

DWORD BalloonKind(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Information:
            return NIIF_INFO;
        case NoticeIcon::Warning:
            return NIIF_WARNING;
        case NoticeIcon::Error:
            return NIIF_ERROR;
        case NoticeIcon::None:
            break;
    }
    return NIIF_NONE;
}

template <std::size_t N>
void Copy(wchar_t (&to)[N], const std::wstring& from) {
    const std::size_t n = std::min(from.size(), N - 1);
    std::wmemcpy(to, from.data(), n);
    to[n] = L'\0';
}

}  // namespace

TrayIcon::TrayIcon(HWND owner, UINT callbackMessage, UINT noticeMessage, ConsoleLog& log)
    : owner_(owner), callbackMessage_(callbackMessage), noticeMessage_(noticeMessage), log_(log) {}

TrayIcon::~TrayIcon() {
    Remove();
}

NOTIFYICONDATAW TrayIcon::Data(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner_;
    data.uID = TALLYPORT_TRAY_ID;
    data.uFlags = flags;
    data.uCallbackMessage = callbackMessage_;
    data.hIcon = image_;
    Copy(data.szTip, tip_);
    return data;
}

bool TrayIcon::Show() {
    if (visible_) {
        return true;
    }
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    if (!::Shell_NotifyIconW(NIM_ADD, &data)) {
        return false;
    }
    data.uVersion = NOTIFYICON_VERSION;
    ::Shell_NotifyIconW(NIM_SETVERSION, &data);
    visible_ = true;
    return true;
}

void TrayIcon::Restore() {
    visible_ = false;
    Show();
}

void TrayIcon::Remove() {
    if (visible_) {
        NOTIFYICONDATAW data = Data(0);
        ::Shell_NotifyIconW(NIM_DELETE, &data);
        visible_ = false;
    }
}

void TrayIcon::SetImage(HICON icon) {
    image_ = icon;
    if (visible_) {
        NOTIFYICONDATAW data = Data(NIF_ICON);
        ::Shell_NotifyIconW(NIM_MODIFY, &data);
    }
}

void TrayIcon::SetTip(const std::wstring& tip) {
    tip_ = tip.substr(0, kTipChars);
    if (visible_) {
        NOTIFYICONDATAW data = Data(NIF_TIP);
        ::Shell_NotifyIconW(NIM_MODIFY, &data);
    }
}

void TrayIcon::ShowNotice(const std::string& title, const std::string& text, int seconds,
                          NoticeIcon icon) {
    Notice notice{ShownBytes(title).substr(0, kTitleChars), ShownBytes(text).substr(0, kTextChars),
                  seconds, icon};
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(notice));
    }
    ::PostMessageW(owner_, noticeMessage_, 0, 0);
}

void TrayIcon::ShowQueued() {
    std::deque<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        notices.swap(queue_);
    }
    for (const Notice& notice : notices) {
        Balloon(notice);
    }
}

void TrayIcon::Balloon(const Notice& notice) {
    if (!visible_) {
        log_.Line(Utf8(notice.title + L": " + notice.text));
        return;
    }
    // A balloon that shows is taken down first, so the new one is seen at once.
    NOTIFYICONDATAW data = Data(NIF_INFO);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
    Copy(data.szInfoTitle, notice.title);
    Copy(data.szInfo, notice.text);
    data.uTimeout = static_cast<UINT>((notice.seconds > 0 ? notice.seconds : 10) * 1000);
    data.dwInfoFlags = BalloonKind(notice.icon);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

}  // namespace tallyport::desktop
