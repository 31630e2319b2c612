#pragma once

#include "control/SignalPipe.h"

namespace tallyport {

class TConnectionControl;

// What a shell does with stop requests (SignalPipe): the close query answered Yes without the
// question. A request that may be refused is refused while a receipt is open (the refusal is
// logged) and tried again, through Retry, once every receipt has closed; one that must end
// ends at once (TConnectionControl::EndNow). During the start-up the start-up ends without
// writing anything. Both shells drive it: the window with a timer, the headless program from
// its loop. User-interface thread only; the control must outlive it.
class StopSequence {
public:
    explicit StopSequence(TConnectionControl& control) : control_(control) {}

    enum class Outcome {
        Continue,        // the program goes on (it may be waiting for receipts to close)
        Ended,           // the orderly exit is done: the message loop may end
        StartupAborted,  // during the start-up: it ends by itself without writing anything
    };
    Outcome Request(const StopRequest& request);
    // While Waiting(), about twice a second: the exit follows once no receipt is open.
    Outcome Retry();
    // True while an exit waits for open receipts to close.
    bool Waiting() const { return waiting_; }

private:
    Outcome Handle(bool mustEnd);

    TConnectionControl& control_;
    bool waiting_ = false;
};

}  // namespace tallyport
