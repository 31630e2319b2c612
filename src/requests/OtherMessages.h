#pragma once

#include <string>

#include "requests/RequestFields.h"

namespace tallyport {

class RequestContext;
class TSerialExtended;

// Handler of message types '8' and '9': keeps the card reference (field 4) and answers
// "PLATA CARD;;;;;" when the amount (field 5) lies within the link's card limits, both
// included, else ".;;;;;" with the card reference emptied. True when the reply was sent.
// Throws RequestError, sending nothing, when the amount is not a number. The reference is in
// the journal before the reply goes out.
bool CheckCard(TSerialExtended& link, RequestFields& fields, const std::string& received,
               RequestContext& context);

// Handler of message types 'B' and 'F': removes the last pending transaction line; false when
// there is none. The removal is in the journal before the register is polled again.
bool VoidLastLine(TSerialExtended& link, RequestFields& fields, RequestContext& context);

}  // namespace tallyport
