#pragma once

#include <memory>

#include "link/MessageHandlers.h"
#include "requests/OutputFileNames.h"
#include "requests/RequestContext.h"
#include "requests/RequestFields.h"

namespace tallyport {

// The handler table of every message type, for TSerialExtended::SetHandlers:
//   '1', '7'  article request          '2'       discount or surcharge line
//   '3'       receipt closing          '8', '9'  card-payment check
//   'B', 'F'  void of the last line    '0', '4'  accepted, nothing further
// Every other type, lower-case letters included, is accepted and dropped. The handlers use
// `context`, which must outlive every worker given the table. Each call makes the table of one
// register's worker, with that register's own working fields (`fields`: a new set unless the
// caller hands one in, as a restart restores them), so a table must not be shared between
// workers.
std::shared_ptr<const HandlerTable> MakeRequestHandlers(
    RequestContext& context,
    std::shared_ptr<RequestFields> fields = std::make_shared<RequestFields>());

// Builds the workers' tables: every worker gets a table of its own from MakeRequestHandlers, with
// the working fields the context keeps for its register (RequestContext::FieldsOf, which a
// restart fills from the journal). The link's LogicalNb must be set when the table is made.
HandlerFactory RequestHandlerFactory(RequestContext& context);

}  // namespace tallyport
