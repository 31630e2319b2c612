#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::ecrsim {

using WallClock = std::chrono::system_clock;

// One line the program is expected to have written, field by field. A field is a fixed text,
// one of a few texts (the date and time the program takes from its own clock, a value that
// depends on which of two closings the program handled first), or any text.
class ExpectedLine {
public:
    enum class Record { Tran, Bon };

    explicit ExpectedLine(Record record) : record_(record) {}

    ExpectedLine& Field(std::string text);
    ExpectedLine& FieldOneOf(std::vector<std::string> texts);
    ExpectedLine& AnyField();
    // Appends fixed fields from a comma-separated text ("0003,01,0042").
    ExpectedLine& Fields(std::string_view commaSeparated);

    // A line that may be missing: it was sold before the program could have restarted.
    ExpectedLine& Optional(bool optional = true);
    ExpectedLine& Origin(std::string origin);

    bool Matches(std::string_view line) const;
    // The field numbers (1-based) where `line` differs; a different field count gives {0}.
    std::vector<std::size_t> DifferingFields(std::string_view line) const;
    // The line with alternatives shown as {a|b} and any text as *.
    std::string Describe() const;

    Record Kind() const { return record_; }
    bool IsOptional() const { return optional_; }
    const std::string& OriginText() const { return origin_; }
    std::size_t FieldCount() const { return fields_.size(); }

private:
    struct Expectation {
        std::vector<std::string> texts;  // empty: any text
    };
    static bool FieldMatches(const Expectation& e, std::string_view field);

    Record record_;
    std::vector<Expectation> fields_;
    bool optional_ = false;
    std::string origin_;
};

// The name of field `number` (1-based) of a record.
const char* FieldName(ExpectedLine::Record record, std::size_t number);

// Splits a record line at its commas.
std::vector<std::string_view> SplitFields(std::string_view line);

// The "DD/MM/YY" and "HH:MM" texts of every minute of local time from `from` to `to`.
std::vector<std::string> DateTexts(WallClock::time_point from, WallClock::time_point to);
std::vector<std::string> MinuteTexts(WallClock::time_point from, WallClock::time_point to);

}  // namespace tallyport::ecrsim
