#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// How the program answers and what it writes to the back-office files, computed with this
// tool's own code from the article file and the settings. The tool checks the program against
// these results, so nothing here uses the program's libraries.
namespace tallyport::ecrsim {

// Numbers as the program writes them: at most 15 significant digits, shortest form, plain
// notation for magnitudes from 0.00001 below 1E15 (and zero), otherwise "1E20", "1.5E-7".
std::string GeneralNumber(double value);

// Left or right padding to a width; a longer text stays whole.
std::string PadLeft(std::string_view text, std::size_t width, char pad);
std::string PadRight(std::string_view text, std::size_t width, char pad);

// "12.34": the first "." removed; every "." removed.
std::string WithoutFirstPoint(std::string_view text);
std::string WithoutPoints(std::string_view text);

// Strict numbers: optional blanks, sign, digits, "." fraction, exponent; nothing else.
std::optional<double> ParseNumber(std::string_view text);
std::optional<std::int64_t> ParseWhole(std::string_view text);

// Rounding half away from zero to `decimals` places of the value's 15-digit decimal form
// (so 12.34 stays 12.34 although its binary value lies a hair below); nullopt when the result
// does not fit (a Comma of 0 asks for 255 places).
std::optional<double> RoundToDecimals(std::uint8_t decimals, double value);

// The price of an article reply: with decimals in the records "1234" for 12.34 (units, then
// hundredths rounded to even, a carry into the units), otherwise the general number.
std::string ReplyPrice(double value, bool recDecimals);

// The article name as it travels in a reply and in a sale line: the first 22 characters,
// separators and control characters made blanks, trimmed of blanks.
std::string LinkName(std::string_view name);

// The two record formats. Fields as the program fills them at the closing.
struct TranFields {
    int logicalNb = 0;
    std::string operatorNo;  // as received; padded here
    std::string receiptNo;
    std::string zReportNo;
    std::string articleCode;
    std::string priceText;
    std::string commaText;
    std::string quantityText;  // thousandths, as a number's text
    std::string name;
    std::string deptText;
    std::string vatText;
};
// The line without its two last fields (date and time), up to and including the comma before
// the date.
std::string TranLineHead(const TranFields& f);
// The sign-and-quantity field: "+" for more than zero, otherwise "-", then |q| padded to 10.
std::string QuantityField(double quantity);

struct BonFields {
    int logicalNb = 0;
    std::string operatorNo;
    std::string receiptNo;
    std::string zReportNo;
    int paymentCode = 0;
    std::string amount1;  // as written (after the amount rules), unpadded
    std::string amount2;
    std::string amountFlag;
    std::string commaText;
    std::string cardReference;
};
// The closing line's fields 1 to 9 with a trailing comma; time, date and Z-report follow.
std::string BonLineHead(const BonFields& f);
std::string BonLineTail(const BonFields& f);  // "," then the padded Z-report number

// Payment type digit for the closing line: 0, 1, 3, 2 for codes 0 to 3, empty otherwise.
std::string PaymentTypeDigit(int code);

// An amount as the closing line writes it: as received with decimals in the records, else
// scaled by 10^(comma-1) in the general form ("12.34" with Comma 3 gives "1234"). A link that
// has looked up no article has no Comma: the amount stays as received.
std::string ClosingAmount(std::string_view received, std::string_view commaText, bool recDecimals);

// The first 4 characters of a record: the logical number padded to 4.
std::string RegisterField(int logicalNb);

// A register's own output file when every register has its own files: the name, the
// logical number, the name's extension again ("Bon.txt" for 3 gives "Bon.txt3.txt").
std::string PerRegisterFileName(std::string_view name, int logicalNb);

// "DD/MM/YY" and "HH:MM" of a local time.
std::string DateText(const std::tm& t);
std::string TimeText(const std::tm& t);

// The EAN-13 check digit of 12 digits.
char Ean13CheckDigit(std::string_view twelveDigits);

}  // namespace tallyport::ecrsim
