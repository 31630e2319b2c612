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
    control_ = &control;
    end_ = std::move(end);
    control.SetStopProbe([this] { return TakePending(); });
}

bool StopSignalWatcher::TakePending() {
    bool any = pendingBeforeAttach_;
    pendingBeforeAttach_ = false;
    while (pipe_.TakeSignal()) {
        any = true;
    }
    return any;
}

void StopSignalWatcher::OnSignal() {
    if (!TakePending()) {
        return;
    }
    if (!control_) {
        pendingBeforeAttach_ = true;
        return;
    }
    HandleStop();
}

void StopSignalWatcher::HandleStop() {
    switch (control_->RequestStop()) {
        case TConnectionControl::StopResult::Ended:
            retry_.stop();
            if (end_) {
                end_();
            }
            break;
        case TConnectionControl::StopResult::Refused:
            if (!retry_.isActive()) {
                retry_.start();
            }
            break;
        case TConnectionControl::StopResult::StartupAborted:
            // The start-up on the stack below notices it and ends without writing.
            break;
        case TConnectionControl::StopResult::AlreadyEnded:
            retry_.stop();
            break;
    }
}

void StopSignalWatcher::OnRetry() {
    if (control_->Ended()) {
        retry_.stop();
        return;
    }
    if (!control_->AnyReceiptOpen()) {
        retry_.stop();
        HandleStop();
    }
}

}  // namespace tallyport
