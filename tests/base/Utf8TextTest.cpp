#include <gtest/gtest.h>

#include <string>

#include "base/Utf8Text.h"

namespace tallyport {
namespace {

const std::string kABreve = "\xC4\x82";         // U+0102, two bytes
const std::string kEuro = "\xE2\x82\xAC";       // U+20AC, three bytes
const std::string kGClef = "\xF0\x9D\x84\x9E";  // U+1D11E, four bytes

std::string Repeat(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

TEST(Utf8Text, WellFormedUtf8IsTellingFromASingleBytePage) {
    EXPECT_TRUE(IsUtf8(""));
    EXPECT_TRUE(IsUtf8("CASA 1"));
    EXPECT_TRUE(IsUtf8("PLU" + kABreve + kEuro + kGClef + ".txt"));
    EXPECT_FALSE(IsUtf8("PLU\xE9.txt"));       // a Latin-1 or CP1250 letter
    EXPECT_FALSE(IsUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsUtf8("\x82"));              // a lone continuation byte
}

TEST(Utf8Text, ACutNeverSplitsAUtf8Character) {
    // "A" and fifteen A-breves are 31 bytes; a 30-byte column keeps "A" and fourteen.
    const std::string name = "A" + Repeat(kABreve, 15);
    EXPECT_EQ(CutToWidth(name, 30), "A" + Repeat(kABreve, 14));
    EXPECT_EQ(CutToWidth(name, 31), name);
    EXPECT_EQ(CutToWidth(name, 29), "A" + Repeat(kABreve, 14));
    EXPECT_EQ(CutToWidth("AB" + kEuro, 3), "AB");
    EXPECT_EQ(CutToWidth("AB" + kEuro, 4), "AB");
    EXPECT_EQ(CutToWidth("AB" + kEuro + "C", 5), "AB" + kEuro);
    EXPECT_EQ(CutToWidth(kGClef + kGClef, 7), kGClef);
    EXPECT_EQ(CutToWidth(kGClef, 0), "");
    EXPECT_EQ(CutToWidth("short", 20), "short");
}

TEST(Utf8Text, ASingleBytePageIsCutAtTheWidth) {
    // CP1250: 0xC3 is a capital A-breve, 0xE2 an a-circumflex, 0xEE an i-circumflex; followed by
    // these they form no UTF-8 character.
    EXPECT_EQ(CutToWidth("PL\xC3"
                         "CINTA",
                         3),
              std::string("PL\xC3"));
    EXPECT_EQ(CutToWidth("\xE2\xEE"
                         "NT",
                         1),
              std::string("\xE2"));
    EXPECT_EQ(CutToWidth(std::string(40, '\xE9'), 30), std::string(30, '\xE9'));
    // The one ambiguity: two such letters that happen to form a UTF-8 character are kept
    // together, which makes the text one byte shorter, never wrong.
    EXPECT_EQ(CutToWidth("CAS\xC3\xBA", 4), std::string("CAS"));
}

}  // namespace
}  // namespace tallyport
