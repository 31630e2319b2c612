#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "requests/RequestFields.h"

namespace tallyport {

class RequestContext;
class TSerialExtended;

// `value` rounded to `decimals` places, half away from zero, on the value's shortest decimal
// text (the text FormatGeneral prints), so 2.345 gives 2.35 and 1.005 gives 1.01 although
// neither is exact in binary. A value with at most `decimals` places comes back as that text
// reads (the binary noise beyond 15 digits goes: 0.1 + 0.2 gives 0.3).
// nullopt when the value scaled by 10^decimals does not fit a signed 64-bit integer (any
// non-zero value asked for 255 places, as an article's Comma of 0 does) or is not finite.
std::optional<double> RoundToDecimals(std::uint8_t decimals, double value);

// Price field of an article reply. With recDecimals: the whole units followed by two digits of
// hundredths (12.34 gives "1234", 12.5 "1250", 0.05 "005"); hundredths that round to 100 carry
// into the units (12.999 gives "1300") and a negative value keeps one leading "-" ("-1234").
// Without: the general floating format with "." ("12.34").
std::string ReplyPriceText(double value, bool recDecimals);

// ArticleName of the link: the first 22 characters of the article's name, with ";" and control
// characters (which would end or shift the reply's fields) replaced by blanks, trimmed of
// leading and trailing blanks and control characters.
std::string LinkArticleName(std::string_view name);

// ArticleName of the transaction record: cut and trimmed like the reply's name, but otherwise the
// article file's bytes, ";" included (the back office matches the name against its own file);
// only CR, LF and NUL, which would break the record's line, become blanks.
std::string RecordArticleName(std::string_view name);

// Reply body ";NAME;price;100.000;d;1;vat;;;" where d is the second character of the
// department left-padded with "0" to 2, and vat the trimmed VAT group text.
std::string ArticleReplyBody(std::string_view articleName, std::string_view priceText,
                             std::string_view deptText, std::string_view vatText);

// Handler of message types '1' and '7': finds the article by code, EAN or scale barcode,
// answers the register and, once it confirms, records the sale. Runs in the register's turn
// (TSerialExtended::TurnLock) up to the recorded sale, which it queues for the journal with the
// article's fields; the worker waits for the journal before its next poll, outside the turn
// (WaitForJournalBeforeEachPoll). A confirmation that comes after its wait but before the
// register has answered its next poll records the same sale then
// (TSerialExtended::AwaitLateConfirmation). The article is read from the table the holder has in
// hand (never waiting for a load), so the lookup itself needs no lock and the lookups of
// parallel lines run side by side; the turn lock is only the register's turn on its line.
// True when the reply was sent. Throws RequestError for a field that must be a number and is
// not, and StoreError while the article file as it stands failed to load.
bool LookupArticle(TSerialExtended& link, RequestFields& fields, const std::string& received,
                   RequestContext& context);

}  // namespace tallyport
