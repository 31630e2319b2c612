#include <gtest/gtest.h>

#include <cmath>

#include "TestFiles.h"
#include "base/DecimalSeparator.h"
#include "requests/ArticleLookup.h"

namespace tallyport {
namespace {

TEST(RoundToDecimals, HalfAwayFromZeroOnTheShortestText) {
    EXPECT_EQ(RoundToDecimals(2, 1234.0 * 10.0 / 1000.0), 12.34);
    EXPECT_EQ(RoundToDecimals(2, 2.345), 2.35);
    EXPECT_EQ(RoundToDecimals(2, -2.345), -2.35);
    EXPECT_EQ(RoundToDecimals(2, 2.344), 2.34);
    EXPECT_EQ(RoundToDecimals(2, 1.005), 1.01);  // 1.00499999999999989... in binary
    EXPECT_EQ(RoundToDecimals(2, -1.005), -1.01);
    EXPECT_EQ(RoundToDecimals(0, 12.5), 13.0);
    EXPECT_EQ(RoundToDecimals(0, 12.4999), 12.0);
    EXPECT_EQ(RoundToDecimals(0, -0.5), -1.0);
    EXPECT_EQ(RoundToDecimals(1, 9.96), 10.0);
    EXPECT_EQ(RoundToDecimals(2, 99.995), 100.0);
    EXPECT_EQ(RoundToDecimals(3, 0.0005), 0.001);
    EXPECT_EQ(RoundToDecimals(3, 0.0004), 0.0);
    EXPECT_EQ(RoundToDecimals(2, 1.5e-7), 0.0);
    EXPECT_EQ(RoundToDecimals(8, 1.5e-7), 1.5e-7);
}

TEST(RoundToDecimals, AValueAlreadyAtItsPlacesStays) {
    for (double v : {12.34, 0.1, 2.5, 100.0, -7.25, 0.0, 123456789.12}) {
        EXPECT_EQ(RoundToDecimals(2, v), v) << v;
    }
    EXPECT_EQ(RoundToDecimals(5, 0.1 + 0.2), 0.3);  // the 15-digit text of 0.30000000000000004
}

TEST(RoundToDecimals, FailsWhenTheScaledValueLeaves64Bits) {
    EXPECT_FALSE(RoundToDecimals(255, 12.34));  // a Comma of 0 asks for 255 places
    EXPECT_FALSE(RoundToDecimals(255, -0.001));
    EXPECT_EQ(RoundToDecimals(255, 0.0), 0.0);
    EXPECT_FALSE(RoundToDecimals(2, 1e17));
    EXPECT_TRUE(RoundToDecimals(2, 1e15));
    EXPECT_FALSE(RoundToDecimals(2, std::nan("")));
    EXPECT_FALSE(RoundToDecimals(2, INFINITY));
}

TEST(ReplyPrice, GeneralFormWithoutRecDecimals) {
    EXPECT_EQ(ReplyPriceText(12.34, false), "12.34");
    EXPECT_EQ(ReplyPriceText(12.5, false), "12.5");
    EXPECT_EQ(ReplyPriceText(12, false), "12");
    EXPECT_EQ(ReplyPriceText(0, false), "0");
    EXPECT_EQ(ReplyPriceText(-3.75, false), "-3.75");
}

TEST(ReplyPrice, UnitsAndHundredthsWithRecDecimals) {
    EXPECT_EQ(ReplyPriceText(12.34, true), "1234");
    EXPECT_EQ(ReplyPriceText(12.5, true), "1250");
    EXPECT_EQ(ReplyPriceText(0.05, true), "005");
    EXPECT_EQ(ReplyPriceText(0, true), "000");
    EXPECT_EQ(ReplyPriceText(12, true), "1200");
    EXPECT_EQ(ReplyPriceText(12.999, true), "1300");  // hundredths of 100 carry into the units
    EXPECT_EQ(ReplyPriceText(0.996, true), "100");
    EXPECT_EQ(ReplyPriceText(12.344, true), "1234");
    EXPECT_EQ(ReplyPriceText(-12.34, true), "-1234");
    EXPECT_EQ(ReplyPriceText(-0.05, true), "-005");
    EXPECT_EQ(ReplyPriceText(123456789.01, true), "12345678901");
}

TEST(ReplyPrice, AlwaysAPointWhateverTheRegionalSeparator) {
    testing::RegionalSeparatorScope comma(',');
    EXPECT_EQ(ReplyPriceText(2.5, false), "2.5");
    EXPECT_EQ(ArticleReplyBody("PAINE", ReplyPriceText(2.5, false), "01", "1"),
              ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_EQ(RoundToDecimals(2, 2.345), 2.35);
}

TEST(ArticleReply, BodyLayout) {
    EXPECT_EQ(ArticleReplyBody("Paine", "2.5", "01", "1"), ";Paine;2.5;100.000;1;1;1;;;");
    EXPECT_EQ(ArticleReplyBody("Lapte", "1234", "12", " 2 "), ";Lapte;1234;100.000;2;1;2;;;");
    // A department shorter than two characters is padded with "0" before its second is taken.
    EXPECT_EQ(ArticleReplyBody("X", "1", "7", "1"), ";X;1;100.000;7;1;1;;;");
    EXPECT_EQ(ArticleReplyBody("X", "1", "", "1"), ";X;1;100.000;0;1;1;;;");
    EXPECT_EQ(ArticleReplyBody("X", "1", "123", "1"), ";X;1;100.000;2;1;1;;;");
}

TEST(ArticleRecord, NameKeepsItsBytesExceptLineBreaksAndNul) {
    EXPECT_EQ(RecordArticleName("Apa;plata"), "Apa;plata");
    EXPECT_EQ(RecordArticleName("Apa\tplata\x01x"), "Apa\tplata\x01x");
    EXPECT_EQ(RecordArticleName(std::string("Apa\rplata\nmare\0!", 16)), "Apa plata mare !");
    // Cut to 22 and trimmed like the reply's name.
    EXPECT_EQ(RecordArticleName("  \xC8"
                                "ai;" +
                                std::string(30, 'A')),
              "\xC8"
              "ai;" +
                  std::string(16, 'A'));
    EXPECT_EQ(RecordArticleName("\tCafea\r\n"), "Cafea");
}

TEST(ArticleReply, NameIsCutThenTrimmed) {
    EXPECT_EQ(LinkArticleName("Paine"), "Paine");
    EXPECT_EQ(LinkArticleName("  Paine alba  "), "Paine alba");
    // Cut to 22 first: the blanks that end up last inside the 22 go as well.
    EXPECT_EQ(LinkArticleName("APA MINERALA          0.5L"), "APA MINERALA");
    EXPECT_EQ(LinkArticleName(std::string(30, 'A')), std::string(22, 'A'));
    EXPECT_EQ(LinkArticleName("\tCafea\r\n"), "Cafea");
    // Characters that would end or shift the reply's fields become blanks.
    EXPECT_EQ(LinkArticleName("Apa;plata\rmare"), "Apa plata mare");
    // Letters of the 8-bit code page are not control characters.
    EXPECT_EQ(LinkArticleName("\xC8"
                              "ai\xBA"),
              "\xC8"
              "ai\xBA");
}

}  // namespace
}  // namespace tallyport
