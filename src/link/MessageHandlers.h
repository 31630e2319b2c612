#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tallyport {

class TSerialExtended;

// A request handler: the link state and the whole received frame (StartByte to the second CRC
// byte). The result is the handler's own success flag; the dispatcher ignores it. A handler may
// throw: that ends the handling of that one message, never the worker.
using MessageHandler = std::function<bool(TSerialExtended& link, const std::string& received)>;

// Where a handler runs relative to its register's turn on the link (the link's turn lock held
// from the poll on: TSerialExtended::TurnLock). A handler that answers the register and waits for
// its confirmation runs inside the turn, so no other register's traffic comes between the request
// and the reply. Every other handler runs after the turn, so that its file work never holds up the
// other registers.
enum class HandlerTurn : std::uint8_t { AfterTurn, InTurn };

struct HandlerEntry {
    MessageHandler Run;  // empty: the type is accepted and dropped
    HandlerTurn Turn = HandlerTurn::AfterTurn;
};

// Handlers indexed by the first character of MessageType (as an unsigned byte).
using HandlerTable = std::array<HandlerEntry, 256>;

// Makes the handler table of one register's worker when the shell builds it (the handlers may
// keep per-register state in the table). Empty: every message type is accepted and dropped.
using HandlerFactory = std::function<std::shared_ptr<const HandlerTable>(TSerialExtended& link)>;

}  // namespace tallyport
