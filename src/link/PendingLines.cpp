#include "link/PendingLines.h"

#include <algorithm>

namespace tallyport {

void PendingLines::Append(std::string line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(std::move(line));
}

bool PendingLines::RemoveLast() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (lines_.empty()) {
        return false;
    }
    lines_.pop_back();
    return true;
}

void PendingLines::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

std::size_t PendingLines::Count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_.size();
}

std::vector<std::string> PendingLines::Copy() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

void PendingLines::Update(const std::function<void(std::vector<std::string>&)>& change) {
    std::lock_guard<std::mutex> guard(mutex_);
    change(lines_);
}

void PendingLines::DropFront(std::size_t count) {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::size_t n = std::min(count, lines_.size());
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace tallyport
