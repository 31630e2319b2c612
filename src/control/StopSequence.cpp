#include "control/StopSequence.h"

#include "control/ConnectionControl.h"

namespace tallyport {

StopSequence::Outcome StopSequence::Request(const StopRequest& request) {
    return Handle(request.mustEnd);
}

StopSequence::Outcome StopSequence::Retry() {
    if (!waiting_) {
        return Outcome::Continue;
    }
    if (control_.Ended()) {
        waiting_ = false;
        return Outcome::Continue;
    }
    return control_.AnyReceiptOpen() ? Outcome::Continue : Handle(false);
}

StopSequence::Outcome StopSequence::Handle(bool mustEnd) {
    switch (control_.RequestStop(mustEnd)) {
        case TConnectionControl::StopResult::Ended:
            waiting_ = false;
            return Outcome::Ended;
        case TConnectionControl::StopResult::Refused:
            waiting_ = true;
            return Outcome::Continue;
        case TConnectionControl::StopResult::StartupAborted:
            return Outcome::StartupAborted;
        case TConnectionControl::StopResult::AlreadyEnded:
            break;
    }
    waiting_ = false;
    return Outcome::Continue;
}

}  // namespace tallyport
