#include "requests/RequestContext.h"

namespace tallyport {

RequestContext::RequestContext(const LocalClock& clock) : clock_(clock) {}

bool RequestContext::ReplaceLastClosingKey(const std::string& key, std::string* previous) {
    std::lock_guard<std::mutex> guard(keyMutex_);
    bool same = key == lastClosingKey_;
    if (previous != nullptr) {
        *previous = lastClosingKey_;
    }
    lastClosingKey_ = key;
    return same;
}

void RequestContext::RestoreLastClosingKey(const std::string& ours, const std::string& previous) {
    std::lock_guard<std::mutex> guard(keyMutex_);
    if (lastClosingKey_ == ours) {
        lastClosingKey_ = previous;
    }
}

void RequestContext::SetLastClosingKey(std::string key) {
    std::lock_guard<std::mutex> guard(keyMutex_);
    lastClosingKey_ = std::move(key);
}

std::string RequestContext::LastClosingKey() const {
    std::lock_guard<std::mutex> guard(keyMutex_);
    return lastClosingKey_;
}

void RequestContext::UseJournal(ReceiptJournal* journal) {
    std::lock_guard<std::mutex> guard(journalMutex_);
    journal_ = journal;
    sides_.clear();
}

ReceiptJournal* RequestContext::Journal() const {
    std::lock_guard<std::mutex> guard(journalMutex_);
    return journal_;
}

RequestContext::JournalSide& RequestContext::JournalSideOf(int logicalNb) {
    std::lock_guard<std::mutex> guard(journalMutex_);
    return sides_[logicalNb];  // map entries stay where they are while others are added
}

std::shared_ptr<RequestFields> RequestContext::FieldsOf(int logicalNb) {
    std::lock_guard<std::mutex> guard(journalMutex_);
    std::shared_ptr<RequestFields>& fields = fields_[logicalNb];
    if (!fields) {
        fields = std::make_shared<RequestFields>();
    }
    return fields;
}

}  // namespace tallyport
