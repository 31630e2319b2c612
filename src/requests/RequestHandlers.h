#pragma once

#include <memory>

#include "link/MessageHandlers.h"
#include "requests/OutputFileNames.h"
#include "requests/RequestContext.h"

namespace tallyport {

// The handler table of every message type, for TSerialExtended::SetHandlers:
//   '1', '7'  article request          '2'       discount or surcharge line
//   '3'       receipt closing          '8', '9'  card-payment check
//   'B', 'F'  void of the last line    '0', '4'  accepted, nothing further
// Every other type, lower-case letters included, is accepted and dropped. The handlers use
// `context`, which must outlive every worker given the table. One table serves all workers.
std::shared_ptr<const HandlerTable> MakeRequestHandlers(RequestContext& context);

}  // namespace tallyport
