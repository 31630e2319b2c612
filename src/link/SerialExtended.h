#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "link/LinkOptions.h"
#include "link/MessageHandlers.h"
#include "link/PendingLines.h"
#include "serial/BlockSerial.h"

namespace tallyport {

class NoticeSink;
class TPluH;

// One register's link state: line settings, the port, the options and file names the request
// handlers need, the fields of the message in hand and the pending receipt lines, with the
// reply operations. Owned by its TSerialThread; used by that worker's thread only, except the
// pending-line counts (any thread) and Port.ClosePort (the shell's thread, through StopLink).
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
    const std::string ReceiptMasterFile;
    const std::string ReceiptDetailFile;
    const double CardMin;
    const double CardMax;
    const std::string ScalePrefix;
    NoticeSink& TrayIcon;  // not owned

    // The handlers DispatchMessage routes to; until set, every type is accepted and dropped.
    void SetHandlers(std::shared_ptr<const HandlerTable> handlers);

    bool OpenLink();
    bool PollRegister();
    std::string ReceiveFrame();
    void ParseHeader(std::string_view received);
    bool DispatchMessage(std::string_view messageType, const std::string& received);

    // Reply frame (4 fillers before, 5 after) under LinkLock, written only into an empty output
    // queue. True if handed to the port; never retried.
    bool SendReply(std::string_view text);
    // The same check and write without fillers, framing or lock.
    bool SendRaw(std::string_view bytes);

private:
    std::shared_ptr<const HandlerTable> handlers_;
};

}  // namespace tallyport
