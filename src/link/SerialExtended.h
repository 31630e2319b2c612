#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/LinkLock.h"
#include "link/LinkOptions.h"
#include "link/LinkStatus.h"
#include "link/MessageHandlers.h"
#include "link/PendingLines.h"
#include "serial/BlockSerial.h"

namespace tallyport {

class NoticeSink;
class TPluH;

// The write time-out of a link's port at these line settings: the wire time of the longest
// write the link makes, plus a margin (LinkProtocol.h says why).
int LinkWriteTimeoutMs(const PortSettings& line);

class TSerialExtended;

// What a request handler leaves behind for a reply whose confirmation did not come within the
// confirmation wait: it records the sale if the register's AckByte comes late. Run at most once,
// on the worker, in the register's turn (TurnLock).
using LateConfirmation = std::function<void(TSerialExtended& link)>;

// One register's link state: line settings, the port, the options and file names the request
// handlers need, the fields of the message in hand and the pending receipt lines, with the
// reply operations. Owned by its TSerialThread; used by that worker's thread only (and by the
// shell's before the worker starts), except the pending-line counts and Status (any thread)
// and Port.ClosePort (the shell's thread, through StopLink). Whatever else another thread must
// see of it, it reads under TurnLock, which the worker holds for each exchange.
class TSerialExtended {
public:
    TSerialExtended(const LinkOptions& options, NoticeSink& trayIcon);
    TSerialExtended(const TSerialExtended&) = delete;
    TSerialExtended& operator=(const TSerialExtended&) = delete;

    // The lock of the register's turn on its line: held from the poll to the end of the
    // exchange (an article request's reply and confirmation included), and around opening the
    // port, the poll, the reception and the reply. Without ParallelLines it is LinkLock, which
    // every register takes in turn, so one line is served at a time; with it, a lock of this link's
    // own, so that the worker never waits for another register. Re-entrant and FIFO either way.
    FairRecursiveMutex& TurnLock() const { return turnLock_; }
    const bool ParallelLines;

    // Line settings, set by the shell after construction and before the first start.
    std::string CommPort = "COM1";
    int TranRate = 4800;
    int DataBits = 8;
    char Parity = 'N';  // carried, not applied: the line always runs without parity
    int StopBits = 1;   // carried, not applied: the stop bits stay as the port had them
    int LogicalNb = 0;
    std::string ModelType;
    std::string Fiscal;

    TBlockSerial Port;

    const bool RecDiscount;
    const bool RecAmount;
    const bool RecDecimals;

    // Header of the last accepted frame.
    std::string MessageType;
    std::string FiscalSeries;
    std::string SecondField;

    TPluH* const PluHolder;  // shared by all workers, not owned
    PendingLines PendingTranLines;
    PendingLines PendingBonLines;
    // What the shell shows of this register: port state, last frame, counts, last error.
    LinkStatus Status;
    const std::string ReceiptMasterFile;
    const std::string ReceiptDetailFile;
    const double CardMin;
    const double CardMax;
    const std::string ScalePrefix;
    NoticeSink& TrayIcon;  // not owned

    // The handlers DispatchMessage routes to; until set, every type is accepted and dropped.
    void SetHandlers(std::shared_ptr<const HandlerTable> handlers);
    // Runs on the worker before each cycle, outside the turn: the request handlers wait there
    // until what the last exchange told them is kept (their journal), so that the register is
    // polled again only then and no other register's turn waits for the disk. It returns when
    // the port is closed. Set before the worker starts.
    void SetBeforeCycle(std::function<void()> hook) { beforeCycle_ = std::move(hook); }
    void BeforeCycle() const {
        if (beforeCycle_) {
            beforeCycle_();
        }
    }

    // Opens and configures the port in the turn (TurnLock), and sets its write time-out for the
    // link (LinkWriteTimeoutMs). A failure after the device was opened closes it again, so a
    // later attempt can open it; OpenError then keeps why.
    bool OpenLink();
    // The port's error code of the last OpenLink that failed (0 after one that worked), for
    // its text: TBlockSerial::ErrorText.
    int OpenError() const { return openError_; }
    // Every write below completes when its bytes have left the port (TBlockSerial::WriteText),
    // so the wait for the register's answer that follows counts from the end of the PC's last
    // byte on the wire, and the protocol's times stay the register's. A write succeeds when all
    // its bytes left; a receive-line error the port reports beside it changes nothing here.
    // The poll's write also waits, one ByteTimeout from its last byte on the wire, for the
    // answer's first byte (TBlockSerial::WriteTextThenWaitForInput); ReceiveFrame takes it from
    // there and does not wait for it again.
    bool PollRegister();
    // The register's answer to the poll: StartByte to the second CRC byte, or empty. A stray
    // first byte is dropped (empty result) with what follows it until the line is quiet for one
    // ByteTimeout (within FrameDeadline), except fillers and the AckByte of a confirmation
    // awaited late (AwaitLateConfirmation), which cross the poll on the line.
    std::string ReceiveFrame();
    // True when the port reported a receive-line error while the last frame was being received:
    // a byte of it may be wrong, so the worker drops it without acknowledgement and the
    // register sends it again.
    bool FrameHadLineError() const { return frameLineError_ != 0; }

    // Called by a handler in the register's turn when its reply's confirmation did not come
    // within the wait. The register sends nothing after a reply but its confirmation, so an
    // AckByte (among fillers or not) that comes before the register has answered its next poll
    // confirms that reply: `record` then runs once, the sale counts as late in Status, and the
    // trace notes it. Anything else first (another byte, a frame, the end of the reception
    // after the next poll, a closed port) drops it.
    void AwaitLateConfirmation(LateConfirmation record);
    // Looks, in the register's turn and before the poll drops the input that came before it,
    // for the late confirmation awaited. True when it came and was recorded: the cycle then
    // ends there, so that the worker waits for the journal before it polls again.
    bool TakeLateConfirmation();

    // True once the port's transmitter is stuck: a write's drain timed out and its output
    // queue still held bytes after they were discarded, or the queue has refused every send
    // for longer than the write time-out. The worker then closes and re-opens the port.
    // Cleared by OpenLink. StuckReason says what was seen.
    bool TransmitterStuck() const { return stuck_; }
    const std::string& StuckReason() const { return stuckReason_; }

    // Writes `text` to the technician's trace, when it is on (LinkTrace.h).
    void TraceNote(const std::string& text) const;
    void ParseHeader(std::string_view received);
    // True when the handler of this type runs inside the register's turn (HandlerTurn).
    bool RunsInTurn(std::string_view messageType) const;
    bool DispatchMessage(std::string_view messageType, const std::string& received);

    // Reply frame (4 fillers before, 5 after) in the turn (TurnLock), written only into an empty
    // output queue. True if all its bytes left the port; never retried.
    bool SendReply(std::string_view text);
    // The same check and write without fillers, framing or lock.
    bool SendRaw(std::string_view bytes);

private:
    using Clock = std::chrono::steady_clock;

    // Writes into an empty output queue; notes a stuck transmitter. A poll (`dropInputFirst`)
    // drops the input first and waits, in the same call, for the answer's first byte
    // (silentAfterPoll_).
    bool Send(std::string_view bytes, bool dropInputFirst);
    void QueueRefused();
    void WriteFailed(std::size_t size);
    // The next received byte within ByteTimeout; false when none came. A read that reports a
    // line error marks the frame (its bytes come with the next call).
    bool NextByte(char& byte);
    // Reads and drops what the line brings until it is quiet for one ByteTimeout or
    // `pastDeadline` says the reception's time is up.
    void DropUntilQuiet(const std::function<bool()>& pastDeadline);
    void RecordLateConfirmation(LateConfirmation record);

    // Made only with ParallelLines; turnLock_ is it or LinkLock.
    const std::unique_ptr<FairRecursiveMutex> ownTurn_;
    FairRecursiveMutex& turnLock_;
    std::function<void()> beforeCycle_;
    std::shared_ptr<const HandlerTable> handlers_;
    TraceHook trace_;
    int openError_ = 0;
    int pollLineError_ = 0;
    int frameLineError_ = 0;
    // The last poll's write waited one ByteTimeout for the answer and none came.
    bool silentAfterPoll_ = false;
    LateConfirmation late_;
    Clock::time_point lateSince_{};
    bool stuck_ = false;
    std::string stuckReason_;
    std::optional<Clock::time_point> refusedSince_;
};

}  // namespace tallyport
