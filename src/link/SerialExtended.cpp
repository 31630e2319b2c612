#include "link/SerialExtended.h"

#include <chrono>
#include <mutex>
#include <string>
#include <utility>

#include "base/TickCount.h"
#include "link/LinkFrame.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"
#include "link/LinkTrace.h"
#include "serial/LineTime.h"

namespace tallyport {

namespace {

// The port can no longer deliver anything: closed by StopLink, or the device went away.
bool PortGone(const TBlockSerial& port) {
    return !port.PortReady() || port.PortLost();
}

long MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

}  // namespace

int LinkWriteTimeoutMs(const PortSettings& line) {
    const auto onWire = std::chrono::ceil<std::chrono::milliseconds>(
        WireTime(line, static_cast<std::size_t>(LongestLinkWrite)));
    return static_cast<int>(onWire.count()) + WriteTimeoutMargin;
}

TSerialExtended::TSerialExtended(const LinkOptions& options, NoticeSink& trayIcon)
    : ParallelLines(options.ParallelLines),
      RecDiscount(options.RecDiscount),
      RecAmount(options.RecAmount),
      RecDecimals(options.RecDecimals),
      PluHolder(options.PluHolder),
      ReceiptMasterFile(options.ReceiptMasterFile),
      ReceiptDetailFile(options.ReceiptDetailFile),
      CardMin(options.CardMin),
      CardMax(options.CardMax),
      ScalePrefix(options.ScalePrefix),
      TrayIcon(trayIcon),
      ownTurn_(options.ParallelLines ? std::make_unique<FairRecursiveMutex>() : nullptr),
      turnLock_(ownTurn_ ? *ownTurn_ : LinkLock) {}

void TSerialExtended::SetHandlers(std::shared_ptr<const HandlerTable> handlers) {
    handlers_ = std::move(handlers);
}

bool TSerialExtended::OpenLink() {
    std::lock_guard<FairRecursiveMutex> guard(TurnLock());
    // No other thread uses the port now (the worker opens it before it runs, or from its own
    // loop): the hook can be set for the run that follows.
    trace_ = LinkTraceRequested() ? MakeLinkTrace(LogicalNb) : TraceHook{};
    Port.SetTraceHook(trace_);
    late_ = {};
    pollLineError_ = 0;
    frameLineError_ = 0;
    silentAfterPoll_ = false;
    stuck_ = false;
    stuckReason_.clear();
    refusedSince_.reset();
    const bool wasOpen = Port.PortReady();
    // Every failure after the device was opened closes it: left open, it would be refused as
    // "in use" at every later attempt.
    const auto failed = [this, wasOpen] {
        openError_ = Port.LastErrorCode();
        if (!wasOpen && Port.PortReady()) {
            Port.ClosePort();
        }
        return false;
    };
    Port.OpenPort(CommPort);
    if (Port.LastErrorCode() != kSerialOk) {
        return failed();
    }
    Port.LoadPortState();
    if (Port.LastErrorCode() != kSerialOk) {
        return failed();  // settings unknown: writing them back would put garbage on the line
    }
    PortSettings& settings = Port.PortState();
    settings.BaudRate = static_cast<std::uint32_t>(TranRate);
    // Binary mode with DTR held on: no parity check, no hardware or XON/XOFF flow control, no
    // error-character replacement, no null stripping, no abort on error, RTS not asserted.
    settings.Flags = kDcbBinary | kDcbDtrControlEnable;
    settings.ByteSize = static_cast<std::uint8_t>(DataBits);
    settings.Parity = PortParity::None;  // the stop bits stay as the port had them
    Port.ApplyPortState();
    if (Port.LastErrorCode() != kSerialOk) {
        return failed();
    }
    // Every other register waits while this one writes: a write that cannot finish must give up
    // after about a second, not after the port's default 30 s.
    Port.SetIoTimeout(LinkWriteTimeoutMs(settings));
    openError_ = kSerialOk;
    return true;
}

void TSerialExtended::TraceNote(const std::string& text) const {
    if (trace_) {
        try {
            trace_(TraceDirection::Note, text);
        } catch (...) {
            // A trace that fails must not fail the line.
        }
    }
}

// Every send goes only into an empty output queue (a 0 ms check), so the link never blocks on a
// busy transmitter. True when all bytes have left the port (the write waits for that).
//
// A poll first drops the input that came before it: those bytes answer no poll the register can
// still be waiting on (an answer that came after the last cycle stopped waiting, or the rest of
// one to a poll of the program that ran before a restart). The register has heard a new poll and
// no acknowledgement, so it sends its frame again: taking the old copy as well would record a
// closing twice.
bool TSerialExtended::Send(std::string_view bytes, bool dropInputFirst) {
    if (!Port.WaitOutputDrained(0)) {
        QueueRefused();
        return false;
    }
    refusedSince_.reset();
    if (!dropInputFirst) {
        if (Port.WriteText(bytes) == static_cast<int>(bytes.size())) {
            return true;
        }
        WriteFailed(bytes.size());
        return false;
    }
    Port.DiscardInput();
    // The poll's write and the wait for the answer's first byte are one wait on the port: a
    // silent register's cycle then wakes the worker once, not twice.
    bool answered = false;
    if (Port.WriteTextThenWaitForInput(bytes, ByteTimeout, answered) ==
        static_cast<int>(bytes.size())) {
        // The answer to a poll may begin to arrive while the poll's write still waits for its
        // last byte to be on the wire: a line error reported beside the poll may be in that
        // answer.
        pollLineError_ = Port.LastLineError();
        silentAfterPoll_ = !answered;
        return true;
    }
    WriteFailed(bytes.size());
    return false;
}

// A queue that refuses every send for longer than a write may take is not going to empty.
void TSerialExtended::QueueRefused() {
    const auto now = Clock::now();
    if (!refusedSince_) {
        refusedSince_ = now;
    } else if (!stuck_ && now - *refusedSince_ > std::chrono::milliseconds(Port.IoTimeout())) {
        stuck_ = true;
        stuckReason_ = "output queue not empty for " + std::to_string(MsSince(*refusedSince_)) +
                       " ms (" + std::to_string(Port.OutputCount()) + " bytes)";
    }
}

// A write that did not get all its bytes out. When its drain timed out, the port discarded the
// queue; a queue that still holds bytes after that belongs to a transmitter that is stuck.
void TSerialExtended::WriteFailed(std::size_t size) {
    if (PortGone(Port)) {
        return;  // the worker sees the port closed or lost by itself
    }
    const int left = Port.OutputCount();
    if (left > 0 && !stuck_) {
        stuck_ = true;
        stuckReason_ = "output queue did not empty within the write time-out of " +
                       std::to_string(Port.IoTimeout()) + " ms (" + std::to_string(left) +
                       " bytes left of a write of " + std::to_string(size) + ")";
    }
}

bool TSerialExtended::PollRegister() {
    try {
        std::lock_guard<FairRecursiveMutex> guard(TurnLock());
        return Send(PollMessage(LogicalNb), true);
    } catch (...) {
        return false;  // a poll that could not be built or sent: the next cycle polls again
    }
}

bool TSerialExtended::NextByte(char& byte) {
    // Each pass waits at most one ByteTimeout; a read with a line error keeps its bytes pending,
    // so the pass after it hands them out without waiting.
    for (int pass = 0; pass < 2; ++pass) {
        if (!Port.HasInput(ByteTimeout)) {
            return false;
        }
        const auto value = Port.ReadByte(ByteTimeout);
        if (const int lineError = Port.LastLineError(); lineError != 0) {
            frameLineError_ = lineError;  // the 0 given for it is no byte of the line
            continue;
        }
        if (Port.LastErrorCode() != kSerialOk) {
            return false;
        }
        byte = static_cast<char>(value);
        return true;
    }
    return false;
}

std::string TSerialExtended::ReceiveFrame() {
    // The deadline runs from before the lock: time spent waiting for another register's turn
    // counts. (The worker's cycle already holds the lock for the register's whole turn.)
    const std::uint32_t t0 = TickCountMs();
    std::lock_guard<FairRecursiveMutex> guard(TurnLock());
    frameLineError_ = std::exchange(pollLineError_, 0);
    const auto pastDeadline = [t0] {
        return TicksSince(t0, TickCountMs()) > static_cast<std::uint32_t>(FrameDeadline);
    };
    // A confirmation awaited late may still be on its way when the poll goes out; the wait for
    // it ends with this reception.
    LateConfirmation late = std::exchange(late_, {});
    const bool awaitingLate = static_cast<bool>(late);
    if (std::exchange(silentAfterPoll_, false)) {
        return {};  // the poll's own wait heard nothing for one ByteTimeout: silence
    }
    char byte = 0;
    for (;;) {
        if (!NextByte(byte)) {
            return {};  // silence
        }
        if (byte == StartByte) {
            break;
        }
        if (awaitingLate && byte == AckByte && late) {
            RecordLateConfirmation(std::exchange(late, {}));
        } else if (!awaitingLate || byte != FillerByte) {
            DropUntilQuiet(pastDeadline);
            return {};  // a stray first byte: dropped, with what came behind it
        }
        if (pastDeadline() || PortGone(Port)) {
            return {};
        }
    }
    std::string received(1, StartByte);
    for (;;) {
        if (NextByte(byte)) {
            received += byte;
            if (byte == EndByte) {
                break;
            }
        }
        if (pastDeadline()) {
            break;
        }
        if (received.size() >= static_cast<std::size_t>(MaxFrameLength)) {
            break;  // a runaway line; the frame fails the acceptance test like a timed-out one
        }
        if (PortGone(Port)) {
            break;  // every wait would now fail at once: do not spin until the deadline
        }
    }
    // The two CRC bytes, however the body ended; one that does not come reads as 0x00.
    for (int crcByte = 0; crcByte < 2; ++crcByte) {
        received += NextByte(byte) ? byte : '\0';
    }
    return received;
}

// What comes behind a stray first byte answers the poll before the next one: a frame there would
// cross the next poll on the line, and taking it after that poll would handle it twice (the
// register, which heard a new poll and no acknowledgement, sends it again). So the line is read
// until it has been quiet for one ByteTimeout (or the frame's deadline passed), and the register
// sends its frame again at the next poll.
void TSerialExtended::DropUntilQuiet(const std::function<bool()>& pastDeadline) {
    char byte = 0;
    while (!pastDeadline() && !PortGone(Port) && NextByte(byte)) {
    }
    frameLineError_ = 0;  // a line error among dropped bytes concerns no frame
}

void TSerialExtended::AwaitLateConfirmation(LateConfirmation record) {
    late_ = std::move(record);
    lateSince_ = Clock::now();
}

bool TSerialExtended::TakeLateConfirmation() {
    if (!late_) {
        return false;
    }
    std::lock_guard<FairRecursiveMutex> guard(TurnLock());
    const std::string waiting = Port.ReadAvailable(0);
    const bool lineError = Port.LastLineError() != 0;
    if (ConfirmsReply(waiting, lineError)) {
        RecordLateConfirmation(std::exchange(late_, {}));
        return true;
    }
    // Nothing yet: it may still cross the poll. Something else: the register answered otherwise,
    // unless it came with a line error, as noise may, with the confirmation still to come.
    if (!StripFillers(waiting).empty() && !lineError) {
        late_ = {};
    }
    return false;
}

void TSerialExtended::RecordLateConfirmation(LateConfirmation record) {
    TraceNote("late confirmation, " + std::to_string(MsSince(lateSince_)) +
              " ms after its wait ended: recorded");
    try {
        record(*this);
        Status.LateSaleRecorded();
    } catch (...) {
        // The handler's error ends the handling of that confirmation only, as for a message.
    }
}

void TSerialExtended::ParseHeader(std::string_view received) {
    const LinkMessage message = SplitFrame(received);
    FiscalSeries = message.FiscalSeries();
    SecondField = message.SecondField();
    MessageType = message.MessageType();
}

bool TSerialExtended::RunsInTurn(std::string_view messageType) const {
    if (messageType.empty() || !handlers_) {
        return false;
    }
    return (*handlers_)[static_cast<unsigned char>(messageType.front())].Turn ==
           HandlerTurn::InTurn;
}

bool TSerialExtended::DispatchMessage(std::string_view messageType, const std::string& received) {
    if (messageType.empty() || !handlers_) {
        return false;
    }
    const auto key = static_cast<unsigned char>(messageType.front());
    if (key == '0' || key == '4') {
        return false;  // types the registers send that need no handling
    }
    const MessageHandler& handler = (*handlers_)[key].Run;
    if (!handler) {
        return false;
    }
    return handler(*this, received);
}

bool TSerialExtended::SendReply(std::string_view text) {
    const std::string frame = ReplyFrame(text);
    std::lock_guard<FairRecursiveMutex> guard(TurnLock());
    return Send(frame, false);
}

bool TSerialExtended::SendRaw(std::string_view bytes) {
    return Send(bytes, false);
}

}  // namespace tallyport
