#pragma once

#include <string>
#include <string_view>

#include "base/LocalClock.h"
#include "requests/RequestFields.h"

namespace tallyport {

class TSerialExtended;

// The values of one transaction-file line, as the link working fields hold them.
struct TranLineFields {
    int logicalNb = 0;
    std::string articleCode;
    std::string priceText;
    std::string commaText;
    double quantity = 0;  // thousandths of a unit (a sale) or the discount's rate
    std::string articleName;
    std::string deptText;
    std::string vatText;
};

// The receipt's numbers a closing fills into its pending lines, padded for the records.
struct ReceiptNumbers {
    std::string operatorNo;  // left-padded with "0" to 2
    std::string receiptNo;   // left-padded with "0" to 4
    std::string zReportNo;   // left-padded with "0" to 5

    static ReceiptNumbers FromFields(std::string_view operatorNo, std::string_view receiptNo,
                                     std::string_view zReportNo);
};

// Sign and quantity field: "+" when the quantity is greater than 0, else "-", then the absolute
// value in the general floating format left-padded with "0" to 10 ("+0000001000", "-0000000000").
std::string QuantityField(double quantity);

// A pending transaction line: the 13 fields joined by "," with the placeholders "OP", "NRBN"
// and "NRZZZ" in fields 2, 3 and 11 and the date and time of `now`. No line end.
std::string FormatPendingTranLine(const TranLineFields& fields, const LocalTime& now);

// Fills a closing's numbers into a pending line. The placeholders are found by their position
// (fields 2 and 3 from the start, field 11 from the end), never by a text search, so a name that
// happens to hold "OP" stays intact, and a line filled by an earlier closing (kept pending after
// a failed write) keeps the numbers of its own receipt. True when something was filled.
bool FillReceiptNumbers(std::string& line, const ReceiptNumbers& numbers);

// Builds a line from the link's working fields and the clock, appends it to the link's pending
// transaction lines and sets QuantityText to the general text of the quantity's absolute value.
// Throws RequestError, appending nothing, when QuantityText is not a number.
void RecordTranLine(TSerialExtended& link, RequestFields& fields, const LocalClock& clock);

}  // namespace tallyport
