#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

// One register's link state: line settings, the port, the options and file names the request
// handlers need, the fields of the message in hand and the pending receipt lines, with the
// reply operations. Owned by its TSerialThread; used by that worker's thread only, except the
// pending-line counts and Status (any thread) and Port.ClosePort (the shell's thread, through
// StopLink).
class TSerialExtended {
public:
    TSerialExtended(const LinkOptions& options, NoticeSink& trayIcon);
    TSerialExtended(const TSerialExtended&) = delete;
    TSerialExtended& operator=(const TSerialExtended&) = delete;

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
    // Runs on the worker before each cycle, without LinkLock: the request handlers wait there
    // until what the last exchange told them is kept (their journal), so that the register is
    // polled again only then and no other register's turn waits for the disk. It returns when
    // the port is closed. Set before the worker starts.
    void SetBeforeCycle(std::function<void()> hook) { beforeCycle_ = std::move(hook); }
    void BeforeCycle() const {
        if (beforeCycle_) {
            beforeCycle_();
        }
    }

    // Opens and configures the port under LinkLock, and sets its write time-out for the
    // link (LinkWriteTimeoutMs).
    bool OpenLink();
    // Every write below completes when its bytes have left the port (TBlockSerial::WriteText),
    // so the wait for the register's answer that follows counts from the end of the PC's last
    // byte on the wire, and the protocol's times stay the register's.
    bool PollRegister();
    std::string ReceiveFrame();
    void ParseHeader(std::string_view received);
    // True when the handler of this type runs inside the register's turn (HandlerTurn).
    bool RunsInTurn(std::string_view messageType) const;
    bool DispatchMessage(std::string_view messageType, const std::string& received);

    // Reply frame (4 fillers before, 5 after) under LinkLock, written only into an empty output
    // queue. True if all its bytes left the port; never retried.
    bool SendReply(std::string_view text);
    // The same check and write without fillers, framing or lock.
    bool SendRaw(std::string_view bytes);

private:
    std::function<void()> beforeCycle_;
    std::shared_ptr<const HandlerTable> handlers_;
};

}  // namespace tallyport
