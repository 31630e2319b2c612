#pragma once

#include <string>

namespace tallyport {

// Kind of icon a notice shows.
enum class NoticeIcon { None, Information, Warning, Error };

// Where the request handlers' notices to the user go: the tray icon's balloon in the shell, a
// time-stamped line on standard error without a window, a recorder in tests. Called from
// link worker threads: every implementation must be safe to call from any thread at any time
// and must not block on the user-interface thread.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;

    // Shows a notice with a title (up to 63 characters shown), a text (up to 255), a display
    // time in seconds and an icon; a notice already showing is replaced.
    virtual void ShowNotice(const std::string& title, const std::string& text, int seconds,
                            NoticeIcon icon) = 0;
};

}  // namespace tallyport
