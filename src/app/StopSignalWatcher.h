#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

#include "control/SignalPipe.h"
#include "control/StopSequence.h"

namespace tallyport {

class TConnectionControl;

// SIGTERM and SIGINT (a session logout, a service stop, Ctrl+C) handled on the user-interface
// thread by the control's StopSequence: an orderly exit when no receipt is open; otherwise the
// refusal is logged and the exit is tried again once every receipt has closed. During the
// start-up the program ends without writing anything. User-interface thread only.
class StopSignalWatcher final : public QObject {
    Q_OBJECT
public:
    explicit StopSignalWatcher(int retryMilliseconds = 500, QObject* parent = nullptr);

    // From here on signals go to `control`; `end` ends the message loop after an orderly exit.
    // Also gives the control the probe that notices a signal between the start-up steps.
    void Attach(TConnectionControl& control, std::function<void()> end);

    // True while an exit waits for open receipts to close.
    bool WaitingForReceipts() const { return sequence_ && sequence_->Waiting(); }

private:
    void OnSignal();
    void OnRetry();
    void Follow(StopSequence::Outcome outcome);
    std::optional<StopRequest> TakePending();

    SignalPipe pipe_;
    QSocketNotifier notifier_;
    QTimer retry_;
    std::unique_ptr<StopSequence> sequence_;
    std::function<void()> end_;
    std::optional<StopRequest> pendingBeforeAttach_;
};

}  // namespace tallyport
