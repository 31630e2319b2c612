#include "requests/ReceiptClosing.h"

#include <cmath>
#include <mutex>
#include <optional>

#include "base/NoticeSink.h"
#include "base/NumberText.h"
#include "base/Padding.h"
#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"
#include "link/SerialExtended.h"
#include "requests/FieldText.h"
#include "requests/OutputFiles.h"
#include "requests/RequestContext.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

constexpr const char* kDiscountCode = "9999999999999";
constexpr const char* kDiscountName = "DISCOUNT (+/-)";

// Fields of a closing message.
constexpr std::size_t kPaymentTypeField = 4;
constexpr std::size_t kOperatorField = 5;
constexpr std::size_t kReceiptField = 9;
constexpr std::size_t kZReportField = 10;
constexpr std::size_t kAmount1Field = 11;
constexpr std::size_t kAmount2Field = 20;

double ParseAmount(const std::string& text) {
    auto value = ParseDouble(text, '.');
    if (!value) {
        throw RequestError("'" + text + "' is not a valid amount");
    }
    return *value;
}

// Writes one pending list to its file and lets go of the lines that reached it. A failure is
// shown to the user, since the worker otherwise goes on silently with the lines held back.
void AppendPendingLines(TSerialExtended& link, PendingLines& pending, const std::string& path) {
    // Only this worker changes its lists, so the copy stays the list's first lines.
    std::vector<std::string> lines = pending.Copy();
    try {
        AppendLinesToFile(path, lines);
    } catch (const RequestError& e) {
        link.Status.SetError(e.what());
        link.TrayIcon.ShowNotice(
            "Eroare",
            "Nu se poate scrie in fisierul " + path + "! Liniile bonului raman in asteptare.", 10,
            NoticeIcon::Error);
        throw;
    }
    pending.DropFront(lines.size());
}

}  // namespace

std::string PaymentTypeField(int code) {
    switch (code) {
        case 0:
            return "0";
        case 1:
            return "1";
        case 2:
            return "3";
        case 3:
            return "2";
        default:
            return "";
    }
}

std::string FormatBonLine(const BonLineFields& f, const LocalTime& now) {
    std::string line = LogicalNbField(f.logicalNb);
    AppendFields(line, {f.numbers.operatorNo, f.numbers.receiptNo, f.paymentType, f.amountFlag,
                        PadLeft(f.amount1, 10, '0'), PadLeft(f.amount2, 10, '0'), f.commaText,
                        PadLeft(f.cardReference, 13, '0'), FormatTimeHHMM(now),
                        FormatDateDDMMYY(now), f.numbers.zReportNo});
    return line;
}

bool RecordDiscount(TSerialExtended& link, RequestFields& fields, const std::string& received,
                    const RequestContext& context) {
    if (!link.RecDiscount) {
        return false;
    }
    LinkMessage message = SplitFrame(received);
    fields.PriceText = message.Field(5);
    fields.QuantityText = WithoutFirstPoint(message.Field(6));
    fields.ArticleCode = kDiscountCode;
    auto value = ParseDouble(fields.PriceText, '.');
    auto rate = ParseDouble(fields.QuantityText, '.');
    double amount = value && rate ? *value * *rate / 10000.0 : 0.0;
    fields.PriceText = PadLeft(FormatGeneral(amount, '.'), 8, ' ');
    fields.ArticleName = kDiscountName;
    RecordTranLine(link, fields, context.Clock());
    return true;
}

bool CloseReceipt(TSerialExtended& link, RequestFields& fields, const std::string& received,
                  RequestContext& context) {
    bool acknowledged = link.SendRaw(AddFillers(std::string(1, AckByte), 6, 10));
    LinkMessage message = SplitFrame(received);
    if (!acknowledged) {
        return false;  // the register closes again; the lines stay pending for that closing
    }

    // The receipt's numbers belong to the pending lines whatever follows: a line kept pending
    // by a later failure goes out with the numbers of the receipt it was sold on.
    const ReceiptNumbers numbers = ReceiptNumbers::FromFields(
        message.Field(kOperatorField), message.Field(kReceiptField), message.Field(kZReportField));
    link.PendingTranLines.Update([&numbers](std::vector<std::string>& lines) {
        for (std::string& line : lines) {
            FillReceiptNumbers(line, numbers);
        }
    });
    const LocalTime now = context.Clock().Now();

    // Every number is read before the closing line is built or the last closing key changes: a
    // bad one ends the closing with nothing written.
    auto paymentCode = ParseInteger("0" + message.Field(kPaymentTypeField));
    if (!paymentCode) {
        throw RequestError("'" + message.Field(kPaymentTypeField) +
                           "' is not a valid payment type");
    }
    std::string amount1 = message.Field(kAmount1Field).empty() ? "0" : message.Field(kAmount1Field);
    std::string amount2 = message.Field(kAmount2Field).empty() ? "0" : message.Field(kAmount2Field);
    double value1 = ParseAmount(amount1);
    double value2 = ParseAmount(amount2);
    // Without decimals in the records the amounts are scaled by the last article's Comma. A link
    // that has looked up no article yet has no Comma: its amounts are written as received,
    // which keeps the closing (and the register) going and loses nothing.
    std::optional<int> scale;
    if (!link.RecDecimals && !fields.CommaText.empty()) {
        auto comma = ParseInteger(fields.CommaText);
        if (!comma) {
            throw RequestError("'" + fields.CommaText + "' is not a valid decimals code");
        }
        scale = static_cast<int>(static_cast<unsigned>(*comma) - 1u);
    }

    BonLineFields bon;
    bon.logicalNb = link.LogicalNb;
    bon.numbers = numbers;
    bon.paymentType = PaymentTypeField(*paymentCode);
    bon.amountFlag = value1 < value2 ? "1" : "0";
    if (!link.RecAmount) {
        // A receipt paid by several means arrives as several closings: only the first of them
        // carries the first amount.
        std::string key =
            LogicalNbField(link.LogicalNb) + "," + numbers.operatorNo + "," + numbers.receiptNo;
        if (context.ReplaceLastClosingKey(key)) {
            amount1 = "0";
            value1 = 0;
        }
    }
    if (scale) {
        double factor = std::pow(10.0, *scale);
        amount1 = FormatGeneral(value1 * factor, '.');
        amount2 = FormatGeneral(value2 * factor, '.');
    }
    bon.amount1 = amount1;
    bon.amount2 = amount2;
    bon.commaText = fields.CommaText;
    bon.cardReference = fields.CardReference;
    link.PendingBonLines.Append(FormatBonLine(bon, now));

    AppendOutputFiles(link, context);
    link.Status.ReceiptRecorded();
    return true;
}

void AppendOutputFiles(TSerialExtended& link, RequestContext& context) {
    std::lock_guard<std::mutex> guard(context.OutputFilesMutex());
    AppendPendingLines(link, link.PendingBonLines, link.ReceiptMasterFile);
    AppendPendingLines(link, link.PendingTranLines, link.ReceiptDetailFile);
}

}  // namespace tallyport
