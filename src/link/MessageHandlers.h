#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace tallyport {

class TSerialExtended;

// A request handler: the link state and the whole received frame (StartByte to the second CRC
// byte). The result is the handler's own success flag; the dispatcher ignores it. A handler may
// throw: that ends the handling of that one message, never the worker.
using MessageHandler = std::function<bool(TSerialExtended& link, const std::string& received)>;

// Handlers indexed by the first character of MessageType (as an unsigned byte). An empty slot
// means the type is accepted and dropped.
using HandlerTable = std::array<MessageHandler, 256>;

// Makes the handler table of one register's worker when the shell builds it (the handlers may
// keep per-register state in the table). Empty: every message type is accepted and dropped.
using HandlerFactory = std::function<std::shared_ptr<const HandlerTable>(TSerialExtended& link)>;

}  // namespace tallyport
