#include "requests/ReceiptClosing.h"

#include <cmath>
#include <optional>

#include "base/NoticeSink.h"
#include "base/NumberText.h"
#include "base/Padding.h"
#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"
#include "link/SerialExtended.h"
#include "requests/ClosingCommit.h"
#include "requests/FieldText.h"
#include "requests/Journalling.h"
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
                    RequestContext& context) {
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
    JournalNewLine(link, fields, context);
    AwaitJournal(link, context);
    return true;
}

namespace {

// A readable closing, ready to be acknowledged: its closing line and the key it set.
struct PreparedClosing {
    std::string bonLine;
    std::optional<std::string> key;  // set when the closing changed the last closing key
    std::string previousKey;
};

// Reads every number of the closing and builds its closing line; a bad number throws
// RequestError before anything changes. With RecAmount off the last closing key changes.
PreparedClosing Prepare(TSerialExtended& link, const RequestFields& fields,
                        const LinkMessage& message, const ReceiptNumbers& numbers,
                        RequestContext& context) {
    const LocalTime now = context.Clock().Now();
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

    PreparedClosing prepared;
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
        if (context.ReplaceLastClosingKey(key, &prepared.previousKey)) {
            amount1 = "0";
            value1 = 0;
        }
        prepared.key = key;
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
    prepared.bonLine = FormatBonLine(bon, now);
    return prepared;
}

// The same closing message: every field but the second, which the registers do not fill with
// anything the closing depends on (some number each transmission), and which the CRC bytes
// after the body follow.
bool SameClosing(const std::string& a, const std::string& b) {
    const LinkMessage x = SplitFrame(a);
    const LinkMessage y = SplitFrame(b);
    if (x.FieldCount() != y.FieldCount()) {
        return false;
    }
    for (std::size_t n = 1; n <= x.FieldCount(); ++n) {
        if (n != 2 && x.Field(n) != y.Field(n)) {
            return false;
        }
    }
    return true;
}

void ReplaceTranLines(TSerialExtended& link, const std::vector<std::string>& filled) {
    // Only this worker changes its lists, so `filled` matches the list line for line.
    link.PendingTranLines.Update([&filled](std::vector<std::string>& lines) { lines = filled; });
}

// A closing whose numbers cannot be read. The register takes the padded acknowledgement as
// "recorded", so its frame is kept in the journal with the pending lines (which get the
// receipt's numbers) and the user is told; then the handling ends with the error.
bool CloseUnreadable(TSerialExtended& link, RequestFields& fields, const std::string& received,
                     const std::vector<std::string>& filled, const std::string& reason,
                     RequestContext& context, const std::string& paddedAck) {
    ReceiptJournal* journal = context.Journal();
    ReplaceTranLines(link, filled);
    if (journal != nullptr) {
        JournalRecords(link, fields, context,
                       {ReplaceLinesRecord(filled), UnreadableRecord(received)});
        if (!AwaitJournal(link, context, kClosingJournalWait)) {
            return false;
        }
    }
    if (!link.SendRaw(paddedAck)) {
        return false;
    }
    if (journal != nullptr) {
        link.TrayIcon.ShowNotice("Eroare",
                                 "Eroare: Inchiderea de bon a casei " +
                                     std::to_string(link.LogicalNb) + " nu poate fi citita (" +
                                     reason + "); a fost pastrata in " +
                                     journal->PathOf(link.LogicalNb) + ".",
                                 30, NoticeIcon::Error);
    }
    throw RequestError(reason);
}

// Right after a restart, the closing the journal held for this register, sent again as the
// register's first message because the restart cut off its padded acknowledgement.
bool SentAgainAfterRestart(TSerialExtended& link, RequestContext& context,
                           const std::string& received) {
    if (context.Journal() == nullptr) {
        return false;
    }
    RequestContext::JournalSide& side = context.JournalSideOf(link.LogicalNb);
    const bool resent = side.resentClosing && SameClosing(*side.resentClosing, received);
    side.resentClosing.reset();
    return resent;
}

}  // namespace

bool CloseReceipt(TSerialExtended& link, RequestFields& fields, const std::string& received,
                  RequestContext& context) {
    const std::string paddedAck = AddFillers(std::string(1, AckByte), 6, 10);
    if (SentAgainAfterRestart(link, context, received)) {
        return link.SendRaw(paddedAck);  // its lines are in the files or pending already
    }
    const LinkMessage message = SplitFrame(received);
    for (std::size_t field : {kOperatorField, kReceiptField, kZReportField}) {
        if (!FitsARecord(message.Field(field))) {
            return CloseUnreadable(link, fields, received, link.PendingTranLines.Copy(),
                                   "'" + message.Field(field) + "' is not a valid number", context,
                                   paddedAck);
        }
    }
    // The receipt's numbers belong to the pending lines whatever follows: a line kept pending
    // by a later failure goes out with the numbers of the receipt it was sold on.
    const ReceiptNumbers numbers = ReceiptNumbers::FromFields(
        message.Field(kOperatorField), message.Field(kReceiptField), message.Field(kZReportField));
    std::vector<std::string> filled = link.PendingTranLines.Copy();
    for (std::string& line : filled) {
        FillReceiptNumbers(line, numbers);
    }
    // Every number is read before anything is acknowledged or the last closing key changes.
    std::optional<PreparedClosing> prepared;
    std::string unreadable;
    try {
        prepared = Prepare(link, fields, message, numbers, context);
    } catch (const RequestError& e) {
        unreadable = e.what();
    }
    if (!prepared) {
        return CloseUnreadable(link, fields, received, filled, unreadable, context, paddedAck);
    }

    // The commit. The padded acknowledgement tells the register its receipt is recorded: the
    // journal holds the closing first, and a closing the register was not told of is undone.
    ClosingCommit commit(link, fields, context);
    if (!commit.Journal(filled, prepared->bonLine, prepared->key, received)) {
        return commit.Cancel(prepared->key, prepared->previousKey);
    }
    if (!link.SendRaw(paddedAck)) {
        return commit.Cancel(prepared->key, prepared->previousKey);  // the register closes again
    }
    commit.Acknowledged();
    commit.TakeLines();
    commit.WriteFiles();
    link.Status.ReceiptRecorded();
    return true;
}

}  // namespace tallyport
