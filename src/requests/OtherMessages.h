#pragma once

#include <string>

#include "requests/RequestFields.h"

namespace tallyport {

class TSerialExtended;

// Handler of message types '8' and '9': keeps the card reference (field 4) and answers
// "PLATA CARD;;;;;" when the amount (field 5) lies within the link's card limits, both
// included, else ".;;;;;" with the card reference emptied. True when the reply was sent.
// Throws RequestError, sending nothing, when the amount is not a number.
bool CheckCard(TSerialExtended& link, RequestFields& fields, const std::string& received);

// Handler of message types 'B' and 'F': removes the last pending transaction line; false when
// there is none.
bool VoidLastLine(TSerialExtended& link);

}  // namespace tallyport
