#include "link/SerialExtended.h"

#include <chrono>
#include <mutex>

#include "base/TickCount.h"
#include "link/LinkFrame.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"
#include "link/LinkTrace.h"
#include "serial/LineTime.h"

namespace tallyport {

namespace {

// Every send goes only into an empty output queue (a 0 ms check), so the link never blocks on a
// busy transmitter. True when all bytes have left the port (the write waits for that).
bool WriteIntoEmptyQueue(TBlockSerial& port, std::string_view bytes) {
    if (!port.WaitOutputDrained(0)) {
        return false;
    }
    return port.WriteText(bytes) == static_cast<int>(bytes.size());
}

// A poll into an empty output queue, after the input that came before it is dropped: those bytes
// answer no poll the register can still be waiting on (an answer that came after the last cycle
// stopped waiting, or the rest of one to a poll of the program that ran before a restart). The
// register has heard a new poll and no acknowledgement, so it sends its frame again: taking the
// old copy as well would record a closing twice.
bool PollInto(TBlockSerial& port, std::string_view poll) {
    if (!port.WaitOutputDrained(0)) {
        return false;
    }
    port.DiscardInput();
    return port.WriteText(poll) == static_cast<int>(poll.size());
}

// The port can no longer deliver anything: closed by StopLink, or the device went away.
bool PortGone(const TBlockSerial& port) {
    return !port.PortReady() || port.PortLost();
}

}  // namespace

int LinkWriteTimeoutMs(const PortSettings& line) {
    const auto onWire = std::chrono::ceil<std::chrono::milliseconds>(
        WireTime(line, static_cast<std::size_t>(LongestLinkWrite)));
    return static_cast<int>(onWire.count()) + WriteTimeoutMargin;
}

TSerialExtended::TSerialExtended(const LinkOptions& options, NoticeSink& trayIcon)
    : RecDiscount(options.RecDiscount),
      RecAmount(options.RecAmount),
      RecDecimals(options.RecDecimals),
      PluHolder(options.PluHolder),
      ReceiptMasterFile(options.ReceiptMasterFile),
      ReceiptDetailFile(options.ReceiptDetailFile),
      CardMin(options.CardMin),
      CardMax(options.CardMax),
      ScalePrefix(options.ScalePrefix),
      TrayIcon(trayIcon) {}

void TSerialExtended::SetHandlers(std::shared_ptr<const HandlerTable> handlers) {
    handlers_ = std::move(handlers);
}

bool TSerialExtended::OpenLink() {
    std::lock_guard<FairRecursiveMutex> guard(LinkLock);
    // The worker is not running yet: the hook can be set for the run that follows.
    Port.SetTraceHook(LinkTraceRequested() ? MakeLinkTrace(LogicalNb) : TraceHook{});
    Port.OpenPort(CommPort);
    if (Port.LastErrorCode() != kSerialOk) {
        return false;
    }
    Port.LoadPortState();
    if (Port.LastErrorCode() != kSerialOk) {
        return false;  // settings unknown: writing them back would put garbage on the line
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
        return false;
    }
    // Every other register waits while this one writes: a write that cannot finish must give up
    // after about a second, not after the port's default 30 s.
    Port.SetIoTimeout(LinkWriteTimeoutMs(settings));
    return true;
}

bool TSerialExtended::PollRegister() {
    try {
        std::lock_guard<FairRecursiveMutex> guard(LinkLock);
        return PollInto(Port, PollMessage(LogicalNb));
    } catch (...) {
        return false;  // a poll that could not be built or sent: the next cycle polls again
    }
}

std::string TSerialExtended::ReceiveFrame() {
    // The deadline runs from before the lock: time spent waiting for another register counts.
    // (The worker's cycle already holds the lock for the register's whole turn.)
    const std::uint32_t t0 = TickCountMs();
    std::lock_guard<FairRecursiveMutex> guard(LinkLock);
    if (!Port.HasInput(ByteTimeout) || static_cast<char>(Port.ReadByte(ByteTimeout)) != StartByte) {
        return {};  // silence, or a stray first byte that is dropped
    }
    std::string received(1, StartByte);
    for (;;) {
        if (Port.HasInput(ByteTimeout)) {
            const char byte = static_cast<char>(Port.ReadByte(ByteTimeout));
            received += byte;
            if (byte == EndByte) {
                break;
            }
        }
        if (TicksSince(t0, TickCountMs()) > static_cast<std::uint32_t>(FrameDeadline)) {
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
    received += static_cast<char>(Port.ReadByte(ByteTimeout));
    received += static_cast<char>(Port.ReadByte(ByteTimeout));
    return received;
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
    std::lock_guard<FairRecursiveMutex> guard(LinkLock);
    return WriteIntoEmptyQueue(Port, frame);
}

bool TSerialExtended::SendRaw(std::string_view bytes) {
    return WriteIntoEmptyQueue(Port, bytes);
}

}  // namespace tallyport
