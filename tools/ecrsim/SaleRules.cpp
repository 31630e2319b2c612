#include "ecrsim/SaleRules.h"

namespace tallyport::ecrsim {

namespace {

std::string TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

}  // namespace

SaleAnswer AnswerSale(const ArticleFile& articles, const AnswerSettings& settings,
                      std::string_view code, std::string_view quantityField) {
    SaleAnswer answer;
    std::string quantityText = WithoutFirstPoint(quantityField);
    const std::string scanned = PadLeft(code, 13, '0');
    std::string key = scanned;
    std::string articleCode = scanned;
    const Article* article = articles.Find(key);
    if (article == nullptr && !settings.scalePrefix.empty() &&
        key.compare(0, settings.scalePrefix.size(), settings.scalePrefix) == 0) {
        answer.weighed = true;
        articleCode = key.substr(0, 7);
        const auto weight = ParseWhole(key.substr(7, 5));
        const auto quantity = ParseWhole(quantityText);
        if (!weight || !quantity) {
            answer.searchedKey = key;
            return answer;  // the program ends the request without a reply
        }
        quantityText = std::to_string(*weight * *quantity / 1000);
        key = PadRight(key.substr(0, 7), 13, '0');
        article = articles.Find(key);
    }
    answer.searchedKey = key;
    if (article == nullptr) {
        return answer;
    }
    answer.found = true;
    const std::string name = LinkName(article->name);
    const std::string priceText = GeneralNumber(article->price);
    const std::string commaText = std::to_string(article->comma);
    double value = article->price;
    const double quantity = ParseNumber(quantityText).value_or(0.0);
    if (answer.weighed) {
        const auto decimals = static_cast<std::uint8_t>(static_cast<unsigned>(article->comma) - 1u);
        value = RoundToDecimals(decimals, quantity * value / 1000.0).value_or(0.0);
        articleCode = scanned;
        answer.lineValue = value;
    } else {
        answer.lineValue = value * quantity / 1000.0;
    }
    answer.article = {commaText, article->dept, std::to_string(article->vatGroup)};

    const std::string dept = PadLeft(article->dept, 2, '0');
    answer.replyText = ";" + name + ";" + ReplyPrice(value, settings.recDecimals) + ";100.000;" +
                       dept.substr(1, 1) + ";1;" + TrimBlanks(answer.article.vatText) + ";;;";

    answer.line.articleCode = articleCode;
    answer.line.priceText = WithoutPoints(priceText);
    answer.line.commaText = commaText;
    answer.line.quantityText = quantityText;
    answer.line.name = name;
    answer.line.deptText = article->dept;
    answer.line.vatText = answer.article.vatText;
    return answer;
}

DiscountAnswer AnswerDiscount(std::string_view valueField, std::string_view rateField,
                              const LastArticle& last) {
    DiscountAnswer answer;
    const std::string rateText = WithoutFirstPoint(rateField);
    const auto value = ParseNumber(valueField);
    const auto rate = ParseNumber(rateText);
    answer.value = value && rate ? *value * *rate / 10000.0 : 0.0;
    answer.line.articleCode = "9999999999999";
    answer.line.priceText = PadLeft(GeneralNumber(answer.value), 8, ' ');
    answer.line.commaText = last.commaText;
    answer.line.quantityText = rateText;
    answer.line.name = "DISCOUNT (+/-)";
    answer.line.deptText = last.deptText;
    answer.line.vatText = last.vatText;
    return answer;
}

std::string UpperAsciiLetters(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

}  // namespace tallyport::ecrsim
