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

}  // namespace tallyport
