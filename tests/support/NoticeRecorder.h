#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/NoticeSink.h"

namespace tallyport::test {

struct Notice {
    std::string title;
    std::string text;
    int seconds = 0;
    NoticeIcon icon = NoticeIcon::None;
};

// Keeps every notice shown, in the order shown. Owned by the test; ShowNotice and Notices may
// be called from any thread (the link workers show notices on their own threads).
class NoticeRecorder final : public NoticeSink {
public:
    void ShowNotice(const std::string& title, const std::string& text, int seconds,
                    NoticeIcon icon) override {
        std::lock_guard<std::mutex> guard(mutex_);
        notices_.push_back({title, text, seconds, icon});
    }

    // A copy of the notices shown so far.
    std::vector<Notice> Notices() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return notices_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Notice> notices_;
};

}  // namespace tallyport::test
