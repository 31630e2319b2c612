#pragma once

#include <string>

#include "base/LocalClock.h"
#include "requests/RequestFields.h"
#include "requests/TranRecord.h"

namespace tallyport {

class RequestContext;
class TSerialExtended;

// The values of one receipt-closing line.
struct BonLineFields {
    int logicalNb = 0;
    ReceiptNumbers numbers;
    std::string paymentType;  // one digit, or empty for an unknown code
    std::string amountFlag;   // "1" when the first amount is less than the second
    std::string amount1;
    std::string amount2;
    std::string commaText;
    std::string cardReference;
};

// The payment-type digit of a closing line: 0 gives "0", 1 "1", 2 "3", 3 "2", any other "".
std::string PaymentTypeField(int code);

// A closing line: the 12 fields joined by ",", time before date. No line end.
std::string FormatBonLine(const BonLineFields& fields, const LocalTime& now);

// Handler of message type '2': records a discount or surcharge line with the code
// 9999999999999 and the name "DISCOUNT (+/-)". False when discount lines are not recorded.
// Throws RequestError, recording nothing, when the rate is not a number.
bool RecordDiscount(TSerialExtended& link, RequestFields& fields, const std::string& received,
                    RequestContext& context);

// Handler of message type '3': reads the closing, fills the receipt's numbers into the pending
// lines, builds the closing line and commits it (ClosingCommit: journalled when the context has
// a journal, acknowledged with the padded acknowledgement, appended to the link's files under
// the context's output-files lock, the receipt-closing file first, each list let go of once in
// its file). True when the acknowledgement was sent. Throws RequestError for a
// field that must be a number and is not (acknowledged, nothing of that closing is written, its
// frame is kept in the journal and the user told) and for a file that could not be written
// (the lines that did not reach their file stay pending). Right after a restart, the closing
// the journal held for this register, sent again as the register's first message (the same
// fields; the second may differ), is acknowledged again and not written twice.
bool CloseReceipt(TSerialExtended& link, RequestFields& fields, const std::string& received,
                  RequestContext& context);

}  // namespace tallyport
