#include "requests/RequestContext.h"

namespace tallyport {

RequestContext::RequestContext(const LocalClock& clock) : clock_(clock) {}

bool RequestContext::ReplaceLastClosingKey(const std::string& key) {
    std::lock_guard<std::mutex> guard(keyMutex_);
    bool same = key == lastClosingKey_;
    lastClosingKey_ = key;
    return same;
}

std::string RequestContext::LastClosingKey() const {
    std::lock_guard<std::mutex> guard(keyMutex_);
    return lastClosingKey_;
}

}  // namespace tallyport
