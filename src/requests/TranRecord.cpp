#include "requests/TranRecord.h"

#include <cmath>

#include "base/NumberText.h"
#include "base/Padding.h"
#include "link/SerialExtended.h"
#include "requests/FieldText.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

constexpr std::string_view kOperatorAndReceiptPlaceholders = ",OP,NRBN,";
constexpr std::string_view kZReportPlaceholder = "NRZZZ";

// Position of the comma that opens the field `count` places from the end (1: the last field).
std::string::size_type CommaBeforeFieldFromEnd(const std::string& line, int count) {
    std::string::size_type pos = std::string::npos;
    for (int i = 0; i < count; ++i) {
        if (pos == 0) {
            return std::string::npos;
        }
        pos = line.rfind(',', pos == std::string::npos ? pos : pos - 1);
        if (pos == std::string::npos) {
            return pos;
        }
    }
    return pos;
}

}  // namespace

ReceiptNumbers ReceiptNumbers::FromFields(std::string_view operatorNo, std::string_view receiptNo,
                                          std::string_view zReportNo) {
    return {PadLeft(operatorNo, 2, '0'), PadLeft(receiptNo, 4, '0'), PadLeft(zReportNo, 5, '0')};
}

std::string QuantityField(double quantity) {
    std::string field(1, quantity > 0 ? '+' : '-');
    field += PadLeft(FormatGeneral(std::fabs(quantity), '.'), 10, '0');
    return field;
}

std::string FormatPendingTranLine(const TranLineFields& f, const LocalTime& now) {
    std::string line;
    line.reserve(128);
    line += LogicalNbField(f.logicalNb);
    line += kOperatorAndReceiptPlaceholders;  // fields 2 and 3, filled in at the closing
    line += PadLeft(f.articleCode, 13, '0');
    AppendFields(line, {PadLeft(f.priceText, 8, '0'), f.commaText, QuantityField(f.quantity),
                        PadRight(f.articleName, 40, ' '), PadLeft(f.deptText, 2, '0'), f.vatText,
                        kZReportPlaceholder, FormatDateDDMMYY(now), FormatTimeHHMM(now)});
    return line;
}

bool FillReceiptNumbers(std::string& line, const ReceiptNumbers& numbers) {
    bool filled = false;
    // Field 11 first: the replacement of fields 2 and 3 changes the positions at the start only.
    auto zStart = CommaBeforeFieldFromEnd(line, 3);
    auto zEnd = CommaBeforeFieldFromEnd(line, 2);
    if (zStart != std::string::npos && zEnd != std::string::npos &&
        std::string_view(line).substr(zStart + 1, zEnd - zStart - 1) == kZReportPlaceholder) {
        line.replace(zStart + 1, kZReportPlaceholder.size(), numbers.zReportNo);
        filled = true;
    }
    auto first = line.find(',');
    if (first != std::string::npos &&
        std::string_view(line).substr(first, kOperatorAndReceiptPlaceholders.size()) ==
            kOperatorAndReceiptPlaceholders) {
        std::string numbersText = "," + numbers.operatorNo + "," + numbers.receiptNo + ",";
        line.replace(first, kOperatorAndReceiptPlaceholders.size(), numbersText);
        filled = true;
    }
    return filled;
}

void RecordTranLine(TSerialExtended& link, RequestFields& fields, const LocalClock& clock) {
    LocalTime now = clock.Now();
    auto quantity = ParseDouble(fields.QuantityText, '.');
    if (!quantity) {
        throw RequestError("'" + fields.QuantityText + "' is not a valid quantity");
    }
    TranLineFields values{link.LogicalNb, fields.ArticleCode, fields.PriceText, fields.CommaText,
                          *quantity,      fields.ArticleName, fields.DeptText,  fields.VATText};
    std::string line = FormatPendingTranLine(values, now);
    fields.QuantityText = FormatGeneral(std::fabs(*quantity), '.');
    link.PendingTranLines.Append(std::move(line));
}

}  // namespace tallyport
