#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

#include "base/NoticeSink.h"

namespace tallyport {

class ConsoleLog;

namespace desktop {

// The program's icon in the notification area: its image, its tip, and the workers' notices as
// balloons. Owned by the main window, whose window procedure gets the icon's mouse messages
// (`callbackMessage`) and the queued notices (`noticeMessage`).
//
// Threads: ShowNotice from any thread (it queues the notice and posts `noticeMessage`, never
// waiting for the user interface); everything else on the user-interface thread. Without a
// notification area the notices go to the log.
class TrayIcon final : public NoticeSink {
public:
    TrayIcon(HWND owner, UINT callbackMessage, UINT noticeMessage, ConsoleLog& log);
    ~TrayIcon() override;  // removes the icon
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon into the notification area with the newer notification behaviour
    // (version 3); false when there is no notification area (yet).
    bool Show();
    // Puts it back after the task bar was made anew (Explorer restarted).
    void Restore();
    void Remove();
    bool Visible() const { return visible_; }

    void SetImage(HICON icon);
    void SetTip(const std::wstring& tip);

    // NoticeSink: any thread.
    void ShowNotice(const std::string& title, const std::string& text, int seconds,
                    NoticeIcon icon) override;
    // On `noticeMessage`: shows what was queued (the last balloon replaces the others).
    void ShowQueued();

private:
    struct Notice {
        std::wstring title;
        std::wstring text;
        int seconds;
        NoticeIcon icon;
    };
    NOTIFYICONDATAW Data(UINT flags) const;
    void Balloon(const Notice& notice);

    HWND owner_;
    UINT callbackMessage_;
    UINT noticeMessage_;
    ConsoleLog& log_;
    HICON image_ = nullptr;
    std::wstring tip_ = L"Tallyport";
    bool visible_ = false;

    std::mutex mutex_;  // guards queue_
    std::deque<Notice> queue_;
};

}  // namespace desktop
}  // namespace tallyport
