#pragma once

#include <string>

namespace tallyport {

// The working fields of one register's request handlers: what the message in hand sets and what
// later messages of the same receipt read (the last article's department, VAT group and decimals
// code for a discount line and the closing; the card reference for the closing line). They keep
// their values between messages.
//
// One per register, owned by that register's handler table (MakeRequestHandlers); used only by
// that register's worker thread.
struct RequestFields {
    std::string ArticleCode;
    std::string PriceText;
    std::string CommaText;
    std::string QuantityText;
    std::string ArticleName;
    std::string DeptText;
    std::string VATText;
    std::string CardReference;  // of the last accepted card check; empty at first
};

}  // namespace tallyport
