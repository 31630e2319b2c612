#pragma once

#include <string>
#include <string_view>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {

// What the program keeps of the last article it found for a register: the discount lines and
// the closing line take their decimals code, department and VAT group from it.
struct LastArticle {
    std::string commaText;
    std::string deptText;
    std::string vatText;
};

// The settings that shape the program's answers.
struct AnswerSettings {
    std::string scalePrefix = "24";
    bool recDecimals = false;
};

// The program's answer to an article request (code in field 4, quantity in field 6).
struct SaleAnswer {
    bool found = false;       // a reply is due
    bool weighed = false;     // found through the scale-barcode rule
    std::string searchedKey;  // the last key searched (named in the unknown-article notice)
    std::string replyText;    // the reply body before the link upper-cases it
    double lineValue = 0;     // what the sold line costs
    LastArticle article;
    TranFields line;  // code, price, decimals, quantity, name, department, VAT
};
SaleAnswer AnswerSale(const ArticleFile& articles, const AnswerSettings& settings,
                      std::string_view code, std::string_view quantityField);

// The line a discount message records: value in field 5, rate in field 6 (its first "."
// dropped, so -10.00 reads -1000): value x rate / 10000, blank-padded, code 9999999999999.
struct DiscountAnswer {
    double value = 0;
    TranFields line;
};
DiscountAnswer AnswerDiscount(std::string_view valueField, std::string_view rateField,
                              const LastArticle& last);

// The link upper-cases the letters a to z of every reply.
std::string UpperAsciiLetters(std::string_view text);

}  // namespace tallyport::ecrsim
