#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "base/LocalClock.h"
#include "base/NoticeSink.h"
#include "control/UserDialogs.h"

namespace tallyport {

// Time-stamped lines on a file descriptor (standard error by default): "YYYY-MM-DD HH:MM:SS
// text". Each line is written whole with one write, so lines from several threads never mix.
// Safe to call from any thread; never waits on the user-interface thread.
class ConsoleLog {
public:
    // Where a line goes besides the descriptor, without the time stamp (the system's log of a
    // service, which stamps its own). Called under the log's lock, in the lines' order.
    using Copy = std::function<void(const std::string& text)>;

    explicit ConsoleLog(int fd = 2, const LocalClock& clock = DefaultLocalClock(), Copy copy = {});
    void Line(const std::string& text);

private:
    int fd_;
    const LocalClock& clock_;
    Copy copy_;
    std::mutex mutex_;
};

// The dialogs of a program without a window: messages go to the log with their kind,
// confirmations are answered Yes, no file can be chosen.
class ConsoleDialogs final : public UserDialogs {
public:
    explicit ConsoleDialogs(ConsoleLog& log) : log_(log) {}
    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> ChooseFile(const std::string& startDir) override;
    void Log(const std::string& text) override;

private:
    ConsoleLog& log_;
};

// The workers' notices as log lines, title and text on one line.
class ConsoleNoticeSink final : public NoticeSink {
public:
    explicit ConsoleNoticeSink(ConsoleLog& log) : log_(log) {}
    void ShowNotice(const std::string& title, const std::string& text, int seconds,
                    NoticeIcon icon) override;

private:
    ConsoleLog& log_;
};

}  // namespace tallyport
