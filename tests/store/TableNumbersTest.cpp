#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>

#include "base/NumberText.h"
#include "store/ValueText.h"

namespace tallyport {
namespace {

// The inline conversions of the file reader must give exactly what the general parsers give.
TEST(TableNumbers, FastDoublesEqualTheGeneralParser) {
    std::mt19937_64 random(7);
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "0.0",
                                      "12.5",
                                      "-12.5",
                                      ".5",
                                      "5.",
                                      "-.5",
                                      ".",
                                      "-",
                                      "",
                                      "0.1",
                                      "0.3",
                                      "1.005",
                                      "9007199254740993",
                                      "9007199254740992",
                                      "123456789012345678901",
                                      "0.0000000000000000000000001",
                                      "1234567.1234567890123",
                                      "00000000000000000012.5",
                                      "1e5",
                                      " 1",
                                      "1 ",
                                      "+1",
                                      "1.2.3",
                                      "1,5"};
    for (int i = 0; i < 200000; ++i) {
        char text[64];
        int whole = static_cast<int>(random() % 7);
        int fraction = static_cast<int>(random() % 18);
        std::string digits;
        for (int d = 0; d < whole + fraction; ++d) {
            digits.push_back(static_cast<char>('0' + random() % 10));
        }
        std::snprintf(text, sizeof text, "%s%s%s%s", random() % 4 == 0 ? "-" : "",
                      digits.substr(0, static_cast<std::size_t>(whole)).c_str(),
                      fraction > 0 || random() % 2 ? "." : "",
                      digits.substr(static_cast<std::size_t>(whole)).c_str());
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        std::optional<double> fast = detail::ParseTableDouble(text);
        std::optional<double> general = ParseDouble(text, '.');
        ASSERT_EQ(fast.has_value(), general.has_value()) << text;
        if (fast) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(*fast), std::bit_cast<std::uint64_t>(*general))
                << text;
        }
    }
}

TEST(TableNumbers, FastIntegersEqualTheGeneralParser) {
    const IntegerSyntax blanks{.leadingBlanks = true};
    std::vector<std::string> texts = {
        "0",   "7",   "000000000", "999999999", "1000000000", "2147483647", "2147483648",   "-1",
        " 42", "42 ", "",          "+5",        "-",          "4x",         "0000000000012"};
    std::mt19937 random(3);
    for (int i = 0; i < 100000; ++i) {
        texts.push_back(std::to_string(random() % 2000000000));
    }
    for (const std::string& text : texts) {
        EXPECT_EQ(detail::ParseTableInteger(text), ParseInteger(text, blanks)) << text;
    }
}

}  // namespace
}  // namespace tallyport
