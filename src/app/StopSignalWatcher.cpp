#include "app/StopSignalWatcher.h"

#include <csignal>

#include "control/ConnectionControl.h"

namespace tallyport {

StopSignalWatcher::StopSignalWatcher(int retryMilliseconds, QObject* parent)
    : QObject(parent), pipe_{SIGTERM, SIGINT}, notifier_(pipe_.ReadFd(), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &StopSignalWatcher::OnSignal);
    retry_.setInterval(retryMilliseconds);
    connect(&retry_, &QTimer::timeout, this, &StopSignalWatcher::OnRetry);
}

void StopSignalWatcher::Attach(TConnectionControl& control, std::function<void()> end) {
    sequence_ = std::make_unique<StopSequence>(control);
    end_ = std::move(end);
    control.SetStopProbe([this] { return TakePending().has_value(); });
}

// Every request waiting, as one: a request that must end wins over one that may wait.
std::optional<StopRequest> StopSignalWatcher::TakePending() {
    std::optional<StopRequest> taken = std::exchange(pendingBeforeAttach_, std::nullopt);
    while (const std::optional<StopRequest> request = pipe_.TakeRequest()) {
        if (!taken || request->mustEnd) {
            taken = request;
        }
    }
    return taken;
}

void StopSignalWatcher::OnSignal() {
    const std::optional<StopRequest> request = TakePending();
    if (!request) {
        return;
    }
    if (!sequence_) {
        pendingBeforeAttach_ = request;
        return;
    }
    Follow(sequence_->Request(*request));
}

void StopSignalWatcher::OnRetry() {
    Follow(sequence_->Retry());
}

void StopSignalWatcher::Follow(StopSequence::Outcome outcome) {
    if (sequence_->Waiting()) {
        if (!retry_.isActive()) {
            retry_.start();
        }
    } else {
        retry_.stop();
    }
    // A stop during the start-up: the start-up on the stack below notices it and ends without
    // writing.
    if (outcome == StopSequence::Outcome::Ended && end_) {
        end_();
    }
}

}  // namespace tallyport
