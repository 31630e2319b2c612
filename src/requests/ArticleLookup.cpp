#include "requests/ArticleLookup.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <mutex>

#include "base/NoticeSink.h"
#include "base/NumberText.h"
#include "base/Padding.h"
#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"
#include "link/SerialExtended.h"
#include "requests/FieldText.h"
#include "requests/Journalling.h"
#include "requests/RequestContext.h"
#include "requests/RequestError.h"
#include "requests/TranRecord.h"
#include "store/PluHolder.h"

namespace tallyport {

namespace {

constexpr std::size_t kCodeWidth = 13;
constexpr std::size_t kScaleCodePart = 7;     // prefix and PLU part of a scale barcode
constexpr std::size_t kScaleWeightStart = 7;  // characters 8..12: the weight in grams
constexpr std::size_t kScaleWeightLength = 5;
constexpr std::size_t kLinkNameLength = 22;
constexpr double kTwoToThe63 = 9223372036854775808.0;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlankOrControl(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string WithoutPoints(std::string text) {
    std::erase(text, '.');
    return text;
}

// The digits of a non-negative number's general text with the position of its decimal point
// (exponent notation expanded): "12.34" gives {"1234", 2}, "1.5E-7" gives {"00000015", 0}.
struct DecimalDigits {
    std::string digits;
    std::size_t integerDigits = 0;
};

DecimalDigits ExpandGeneralText(std::string_view text) {
    int exponent = 0;
    if (auto e = text.find('E'); e != std::string_view::npos) {
        std::string_view exponentText = text.substr(e + 1);
        if (!exponentText.empty() && exponentText.front() == '+') {
            exponentText.remove_prefix(1);
        }
        std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
        text = text.substr(0, e);
    }
    DecimalDigits out;
    long integerDigits = 0;
    bool afterPoint = false;
    for (char c : text) {
        if (c == '.') {
            afterPoint = true;
        } else {
            out.digits.push_back(c);
            integerDigits += afterPoint ? 0 : 1;
        }
    }
    long point = integerDigits + exponent;
    if (point < 0) {
        out.digits.insert(0, static_cast<std::size_t>(-point), '0');
        point = 0;
    }
    if (static_cast<std::size_t>(point) > out.digits.size()) {
        out.digits.append(static_cast<std::size_t>(point) - out.digits.size(), '0');
    }
    out.integerDigits = static_cast<std::size_t>(point);
    return out;
}

// Adds one unit in the last place of a string of decimal digits.
void IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// Weight (characters 8 to 12 of the code) times the quantity in thousandths, divided by 1000
// toward zero, in 64-bit arithmetic.
std::int64_t WeighedQuantity(const std::string& code, const std::string& quantityText) {
    std::string weightText = code.substr(kScaleWeightStart, kScaleWeightLength);
    auto weight = ParseInteger64(weightText);
    if (!weight) {
        throw RequestError("'" + weightText + "' is not a valid weight");
    }
    auto quantity = ParseInteger64(quantityText);
    if (!quantity) {
        throw RequestError("'" + quantityText + "' is not a valid quantity");
    }
    std::int64_t product = 0;
    if (__builtin_mul_overflow(*weight, *quantity, &product)) {
        throw RequestError("weighed quantity out of range: " + weightText + " x " + quantityText);
    }
    return product / 1000;
}

enum class Confirmation {
    Confirmed,  // the AckByte came first
    Refused,    // something else came first
    NotYet,     // nothing but fillers (or bytes damaged on the line) within the wait
};

// The register's confirmation of a reply: the first byte other than a filler that comes within
// the confirmation wait, which counts from the reply's last byte on the wire. On a real line the
// bytes arrive one character time apart, so a read that brought only fillers reads again for the
// rest of the wait rather than take the fillers for the whole answer. So does a read during which
// the port reported a line error and that brought no AckByte: the noise is no answer, and the
// register's confirmation may still follow.
Confirmation ReadConfirmation(TBlockSerial& port) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ConfirmationWait);
    int wait = ConfirmationWait;
    for (;;) {
        const std::string bytes = port.ReadAvailable(wait);
        const bool lineError = port.LastLineError() != 0;
        if (ConfirmsReply(bytes, lineError)) {
            return Confirmation::Confirmed;
        }
        const std::string answer = StripFillers(bytes);
        if (!lineError) {
            if (!answer.empty()) {
                return Confirmation::Refused;
            }
            if (port.LastErrorCode() != kSerialOk) {
                return Confirmation::NotYet;  // the wait is over, or the port is gone
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Confirmation::NotYet;
        }
        wait = static_cast<int>(left.count());
    }
}

// A sale the register has confirmed: its transaction line, counted, and queued for the journal
// (no disk wait here: the worker waits for the journal before its next poll, after the turn).
void RecordConfirmedSale(TSerialExtended& link, RequestFields& fields, RequestContext& context) {
    RecordTranLine(link, fields, context.Clock());
    link.Status.SaleRecorded();
    JournalNewLine(link, fields, context);
}

void NotifyUnknownArticle(TSerialExtended& link, const std::string& key) {
    link.TrayIcon.ShowNotice(
        "Eroare", "Se solicita vanzarea unui articol inexistent in PLU.txt: " + key + "!", 10,
        NoticeIcon::Error);
}

}  // namespace

std::optional<double> RoundToDecimals(std::uint8_t decimals, double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    double magnitude = std::fabs(value);
    if (!(magnitude * std::pow(10.0, decimals) < kTwoToThe63)) {
        return std::nullopt;
    }
    DecimalDigits text = ExpandGeneralText(FormatGeneral(magnitude, '.'));
    std::size_t fractionDigits = text.digits.size() - text.integerDigits;
    std::string kept = text.digits;
    if (fractionDigits > decimals) {
        kept.resize(text.integerDigits + decimals);
        if (text.digits[text.integerDigits + decimals] >= '5') {
            IncrementDigits(kept);
        }
    } else {
        kept.append(decimals - fractionDigits, '0');
    }
    std::size_t integerLength = kept.size() - decimals;
    std::string rounded = integerLength == 0 ? "0" : kept.substr(0, integerLength);
    if (decimals > 0) {
        rounded += '.';
        rounded.append(kept, integerLength, std::string::npos);
    }
    double result = 0;
    std::from_chars(rounded.data(), rounded.data() + rounded.size(), result);
    return value < 0 ? -result : result;
}

std::string ReplyPriceText(double value, bool recDecimals) {
    if (!recDecimals) {
        return FormatGeneral(value, '.');
    }
    double magnitude = std::fabs(value);
    double units = std::trunc(magnitude);
    // Ties to even, as the register's two-digit form has always been rounded.
    double hundredths = std::nearbyint((magnitude - units) * 100.0);
    if (hundredths >= 100.0) {
        units += 1.0;
        hundredths -= 100.0;
    }
    char buffer[400];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, units, std::chars_format::fixed, 0);
    std::string text(buffer, end.ptr);
    text += PadLeft(std::to_string(static_cast<int>(hundredths)), 2, '0');
    if (value < 0 && (units > 0 || hundredths > 0)) {
        text.insert(text.begin(), '-');
    }
    return text;
}

std::string LinkArticleName(std::string_view name) {
    std::string cut(name.substr(0, kLinkNameLength));
    for (char& c : cut) {
        if (c == FieldSeparator || static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return std::string(Trim(cut));
}

std::string RecordArticleName(std::string_view name) {
    std::string cut(name.substr(0, kLinkNameLength));
    for (char& c : cut) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return std::string(Trim(cut));
}

std::string ArticleReplyBody(std::string_view articleName, std::string_view priceText,
                             std::string_view deptText, std::string_view vatText) {
    std::string body = ";";
    body += articleName;
    body += ';';
    body += priceText;
    body += ";100.000;";
    body += PadLeft(deptText, 2, '0')[1];
    body += ";1;";
    body += Trim(vatText);
    body += ";;;";
    return body;
}

namespace {

bool LookupInTurn(TSerialExtended& link, RequestFields& fields, const std::string& received,
                  RequestContext& context) {
    LinkMessage message = SplitFrame(received);
    link.FiscalSeries = message.Field(1);
    fields.QuantityText = WithoutFirstPoint(message.Field(6));

    std::lock_guard<FairRecursiveMutex> turn(link.TurnLock());
    const std::string scannedCode = PadLeft(message.Field(4), kCodeWidth, '0');
    fields.ArticleCode = scannedCode;
    if (link.PluHolder == nullptr) {
        throw RequestError("no article table");
    }
    // Never waits for a load; throws while the article file as it stands failed to load.
    link.PluHolder->ReloadIfChanged();
    if (link.FiscalSeries != link.Fiscal) {
        return false;  // a request meant for another register
    }

    std::string key = scannedCode;
    bool weighed = false;
    std::optional<ArticleRecord> article;
    {
        // Both searches read the one table taken here, whatever the loader swaps in meanwhile;
        // the article's texts are copied out and the table let go before the reply.
        const std::shared_ptr<const ArticleTable> articles = link.PluHolder->Table();
        article = articles->Find(key);
        // The scanned code goes into the record as scanned: only one that can stand there.
        if (!article && key.starts_with(link.ScalePrefix) && FitsARecord(key)) {
            weighed = true;
            fields.ArticleCode = key.substr(0, kScaleCodePart);
            fields.QuantityText = std::to_string(WeighedQuantity(key, fields.QuantityText));
            key = PadRight(key.substr(0, kScaleCodePart), kCodeWidth, '0');
            article = articles->Find(key);
        }
    }
    if (!article) {
        NotifyUnknownArticle(link, key);
        return false;
    }

    // The record keeps the name's bytes for the back office to match; the reply gets its own
    // form below.
    const std::string& name = article->name;
    fields.ArticleName = RecordArticleName(name);
    fields.PriceText = article->price;
    fields.CommaText = article->comma;
    auto comma = ParseInteger(fields.CommaText);
    if (!comma) {
        throw RequestError("'" + fields.CommaText + "' is not a valid decimals code");
    }
    auto price = ParseDouble(fields.PriceText, '.');
    if (!price) {
        throw RequestError("'" + fields.PriceText + "' is not a valid price");
    }
    const std::string recordPrice = WithoutPoints(fields.PriceText);
    double value = *price;
    if (weighed) {
        // The reply carries the price of the weighed quantity; a rounding that cannot be done
        // (a Comma of 0 asks for 255 places) gives 0.
        auto decimals = static_cast<std::uint8_t>(static_cast<unsigned>(*comma) - 1u);
        double quantity = static_cast<double>(*ParseInteger64(fields.QuantityText));
        value = RoundToDecimals(decimals, quantity * value / 1000.0).value_or(0.0);
        fields.ArticleCode = scannedCode;
    }

    fields.DeptText = article->dept;
    fields.VATText = article->vatGroup;
    std::string body =
        ArticleReplyBody(LinkArticleName(name), ReplyPriceText(value, link.RecDecimals),
                         fields.DeptText, fields.VATText);
    if (!link.SendReply(body)) {
        return false;
    }
    fields.PriceText = recordPrice;
    const Confirmation confirmation = ReadConfirmation(link.Port);
    if (confirmation == Confirmation::Confirmed) {
        RecordConfirmedSale(link, fields, context);
        return true;
    }
    EndResendWindow(link, context);
    if (confirmation == Confirmation::NotYet) {
        // The worker moves on; an ACK that comes before the register has answered its next poll
        // still confirms this reply, and the sale is recorded then, as it stands now.
        RequestContext* shared = &context;
        link.AwaitLateConfirmation([sale = fields, shared](TSerialExtended& served) mutable {
            RecordConfirmedSale(served, sale, *shared);
        });
    }
    return true;
}

}  // namespace

bool LookupArticle(TSerialExtended& link, RequestFields& fields, const std::string& received,
                   RequestContext& context) {
    bool handled = false;
    try {
        handled = LookupInTurn(link, fields, received, context);
    } catch (...) {
        // The article's fields may have changed before the error: the journal hears of them.
        JournalFieldsIfChanged(link, fields, context);
        throw;
    }
    // A found article's department, VAT group and decimals code are the link's from now on,
    // confirmed or not. Queued only: this runs in the register's turn, and the worker waits for
    // the journal before its next poll, after the turn (WaitForJournalBeforeEachPoll).
    JournalFieldsIfChanged(link, fields, context);
    return handled;
}

}  // namespace tallyport
