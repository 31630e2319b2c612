#include "ecrsim/ExpectedLine.h"

#include <algorithm>
#include <ctime>

#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {

ExpectedLine& ExpectedLine::Field(std::string text) {
    fields_.push_back(Expectation{{std::move(text)}});
    return *this;
}

ExpectedLine& ExpectedLine::FieldOneOf(std::vector<std::string> texts) {
    std::vector<std::string> unique;
    for (std::string& t : texts) {
        if (std::find(unique.begin(), unique.end(), t) == unique.end()) {
            unique.push_back(std::move(t));
        }
    }
    fields_.push_back(Expectation{std::move(unique)});
    return *this;
}

ExpectedLine& ExpectedLine::AnyField() {
    fields_.push_back(Expectation{});
    return *this;
}

ExpectedLine& ExpectedLine::Fields(std::string_view commaSeparated) {
    for (std::string_view f : SplitFields(commaSeparated)) {
        Field(std::string(f));
    }
    return *this;
}

ExpectedLine& ExpectedLine::Optional(bool optional) {
    optional_ = optional;
    return *this;
}

ExpectedLine& ExpectedLine::Origin(std::string origin) {
    origin_ = std::move(origin);
    return *this;
}

bool ExpectedLine::FieldMatches(const Expectation& e, std::string_view field) {
    if (e.texts.empty()) {
        return true;
    }
    return std::find(e.texts.begin(), e.texts.end(), field) != e.texts.end();
}

bool ExpectedLine::Matches(std::string_view line) const {
    const auto fields = SplitFields(line);
    if (fields.size() != fields_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!FieldMatches(fields_[i], fields[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::size_t> ExpectedLine::DifferingFields(std::string_view line) const {
    const auto fields = SplitFields(line);
    if (fields.size() != fields_.size()) {
        return {0};
    }
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!FieldMatches(fields_[i], fields[i])) {
            differing.push_back(i + 1);
        }
    }
    return differing;
}

std::string ExpectedLine::Describe() const {
    std::string text;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        const auto& texts = fields_[i].texts;
        if (texts.empty()) {
            text += '*';
        } else if (texts.size() == 1) {
            text += texts.front();
        } else if (texts.size() <= 3) {
            text += '{';
            for (std::size_t k = 0; k < texts.size(); ++k) {
                text += (k > 0 ? "|" : "") + texts[k];
            }
            text += '}';
        } else {
            text += '{' + texts.front() + ".." + texts.back() + '}';
        }
    }
    return text;
}

const char* FieldName(ExpectedLine::Record record, std::size_t number) {
    static const char* const tran[] = {
        "field count", "register", "operator",   "receipt",   "article code", "price", "decimals",
        "quantity",    "name",     "department", "VAT group", "Z report",     "date",  "time"};
    static const char* const bon[] = {
        "field count", "register",     "operator",      "receipt",  "payment type",
        "amount flag", "first amount", "second amount", "decimals", "card reference",
        "time",        "date",         "Z report"};
    if (record == ExpectedLine::Record::Tran) {
        return number < std::size(tran) ? tran[number] : "field";
    }
    return number < std::size(bon) ? bon[number] : "field";
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = line.find(',');
        fields.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(comma + 1);
    }
}

namespace {

template <typename Format>
std::vector<std::string> EveryMinute(WallClock::time_point from, WallClock::time_point to,
                                     Format format) {
    std::vector<std::string> texts;
    if (to < from) {
        std::swap(from, to);
    }
    auto t = std::chrono::floor<std::chrono::minutes>(from);
    for (; t <= to; t += std::chrono::minutes(1)) {
        const std::time_t seconds = WallClock::to_time_t(t);
        std::tm local{};
        localtime_r(&seconds, &local);
        std::string text = format(local);
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) {
            texts.push_back(std::move(text));
        }
    }
    return texts;
}

}  // namespace

std::vector<std::string> DateTexts(WallClock::time_point from, WallClock::time_point to) {
    return EveryMinute(from, to, [](const std::tm& t) { return DateText(t); });
}

std::vector<std::string> MinuteTexts(WallClock::time_point from, WallClock::time_point to) {
    return EveryMinute(from, to, [](const std::tm& t) { return TimeText(t); });
}

}  // namespace tallyport::ecrsim
