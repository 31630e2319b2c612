// The tool's own model of the program's answers and records, against fixed inputs and the
// worked examples of the record formats. The tool checks the program with this model, so a
// fault here would hide (or invent) a fault there.
#include <gtest/gtest.h>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/Journal.h"
#include "ecrsim/SaleRules.h"
#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {
namespace {

ArticleFile Articles() {
    return ArticleFile::FromText(
        "0000000000123,01,1,2.5,3,Paine\r\n"
        "2412345000000,01,1,10,3,Carne tocata\r\n"
        "2400001000000,12,2,7.5,1,Cartofi\r\n"
        "2400002000000,12,2,7.5,0,Ceapa\r\n"
        "2400003000000,12,2,3.333,4,Morcovi\r\n"
        "5941234000017,6,3,7.99,3,  Napolitane cu crema de alune 500g\r\n"
        "0000000000007,02,1,1E-5,3,A;B\r\n",
        "test articles");
}

WallClock::time_point At(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return WallClock::from_time_t(std::mktime(&t));
}

TEST(ShopRules, GeneralNumbers) {
    EXPECT_EQ(GeneralNumber(0), "0");
    EXPECT_EQ(GeneralNumber(-0.0), "0");
    EXPECT_EQ(GeneralNumber(2.5), "2.5");
    EXPECT_EQ(GeneralNumber(12), "12");
    EXPECT_EQ(GeneralNumber(-1.234), "-1.234");
    EXPECT_EQ(GeneralNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(GeneralNumber(12.34 * 100), "1234");
    EXPECT_EQ(GeneralNumber(100000000), "100000000");
    EXPECT_EQ(GeneralNumber(0.00001), "0.00001");
    EXPECT_EQ(GeneralNumber(0.000015), "0.000015");
    EXPECT_EQ(GeneralNumber(0.0000015), "1.5E-6");
    EXPECT_EQ(GeneralNumber(1.5e-7), "1.5E-7");
    EXPECT_EQ(GeneralNumber(999999999999999), "999999999999999");
    EXPECT_EQ(GeneralNumber(1e15), "1E15");
    EXPECT_EQ(GeneralNumber(1e20), "1E20");
    EXPECT_EQ(GeneralNumber(-2.5e-9), "-2.5E-9");
}

TEST(ShopRules, NumbersAndPadding) {
    EXPECT_EQ(PadLeft("42", 4, '0'), "0042");
    EXPECT_EQ(PadLeft("123456", 4, '0'), "123456");  // never cut
    EXPECT_EQ(PadRight("Paine", 8, ' '), "Paine   ");
    EXPECT_EQ(WithoutFirstPoint("-2.500"), "-2500");
    EXPECT_EQ(WithoutFirstPoint("1.2.3"), "12.3");
    EXPECT_EQ(WithoutPoints("1.2.3"), "123");
    EXPECT_EQ(ParseNumber(" -12.5 "), -12.5);
    EXPECT_EQ(ParseNumber("+3"), 3);
    EXPECT_EQ(ParseNumber("1e3"), 1000);
    EXPECT_FALSE(ParseNumber("").has_value());
    EXPECT_FALSE(ParseNumber("12,5").has_value());
    EXPECT_FALSE(ParseNumber("abc").has_value());
    EXPECT_FALSE(ParseNumber("inf").has_value());
    EXPECT_EQ(ParseWhole("0042"), 42);
    EXPECT_FALSE(ParseWhole("4.2").has_value());
}

TEST(ShopRules, RoundingHalfAwayOnTheDecimalValue) {
    EXPECT_EQ(RoundToDecimals(2, 2.345), 2.35);
    EXPECT_EQ(RoundToDecimals(2, -2.345), -2.35);
    EXPECT_EQ(RoundToDecimals(2, 2.344), 2.34);
    // 12.34 lies a hair below its decimal value in binary; it must stay 12.34.
    EXPECT_EQ(RoundToDecimals(2, 1234 * 10 / 1000.0), 12.34);
    EXPECT_EQ(RoundToDecimals(0, 12.5), 13);
    EXPECT_EQ(RoundToDecimals(1, 9.96), 10);
    EXPECT_EQ(RoundToDecimals(2, 0), 0);
    EXPECT_FALSE(RoundToDecimals(255, 1.5).has_value());  // a Comma of 0
}

TEST(ShopRules, ReplyPrices) {
    EXPECT_EQ(ReplyPrice(12.34, false), "12.34");
    EXPECT_EQ(ReplyPrice(12.5, false), "12.5");
    EXPECT_EQ(ReplyPrice(12, false), "12");
    EXPECT_EQ(ReplyPrice(12.34, true), "1234");
    EXPECT_EQ(ReplyPrice(12.5, true), "1250");
    EXPECT_EQ(ReplyPrice(0.05, true), "005");
    EXPECT_EQ(ReplyPrice(12.999, true), "1300");  // hundredths carry into the units
    EXPECT_EQ(ReplyPrice(0, true), "000");
}

TEST(ShopRules, LinkNames) {
    EXPECT_EQ(LinkName("Paine"), "Paine");
    // Cut to 22 first, then trimmed: a blank at the cut goes too.
    EXPECT_EQ(LinkName("Napolitane cu crema de alune"), "Napolitane cu crema de");
    EXPECT_EQ(LinkName("Apa minerala plata 2L  x"), "Apa minerala plata 2L");
    EXPECT_EQ(LinkName("  A;B\tC  "), "A B C");
}

// The worked example: register 3 sells one unit of article 123 (Paine, 2.5, Dept 01, VAT 1,
// Comma 3); closed with payment code 0, operator 1, receipt 42, Z report 12, amounts 2.5 and 5,
// on 6 December 2026 at 21:50.
TEST(ShopRules, WorkedExampleRecords) {
    const ArticleFile articles = Articles();
    SaleAnswer sale = AnswerSale(articles, AnswerSettings{"24", false}, "123", "1.000");
    ASSERT_TRUE(sale.found);
    EXPECT_FALSE(sale.weighed);
    EXPECT_EQ(sale.replyText, ";Paine;2.5;100.000;1;1;1;;;");
    EXPECT_EQ(UpperAsciiLetters(sale.replyText), ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_DOUBLE_EQ(sale.lineValue, 2.5);

    TranFields line = sale.line;
    line.logicalNb = 3;
    line.operatorNo = "1";
    line.receiptNo = "42";
    line.zReportNo = "12";
    const std::string tran = TranLineHead(line) + "06/12/26,21:50";
    EXPECT_EQ(tran, "0003,01,0042,0000000000123,00000025,3,+0000001000,Paine" +
                        std::string(35, ' ') + ",01,1,00012,06/12/26,21:50");

    BonFields bon;
    bon.logicalNb = 3;
    bon.operatorNo = "1";
    bon.receiptNo = "42";
    bon.zReportNo = "12";
    bon.paymentCode = 0;
    bon.amountFlag = "1";
    bon.commaText = sale.article.commaText;
    bon.amount1 = ClosingAmount("2.5", bon.commaText, false);
    bon.amount2 = ClosingAmount("5", bon.commaText, false);
    bon.cardReference = "";
    EXPECT_EQ(BonLineHead(bon) + "21:50,06/12/26" + BonLineTail(bon),
              "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012");

    // The same records as expectations match exactly those lines, dated at that minute.
    ClosingRecord record;
    record.fields = bon;
    record.cardReferences = {""};
    const auto when = At(2026, 12, 6, 21, 50, 10);
    record.span.wallFrom = record.span.wallTo = when;
    const ExpectedLine bonLine = BonExpectation(record, {bon.amount1}, std::chrono::seconds(0));
    EXPECT_TRUE(bonLine.Matches(
        "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012"));
    EXPECT_FALSE(bonLine.Matches(
        "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:51,06/12/26,00012"));
    EXPECT_FALSE(bonLine.Matches(
        "0003,01,0042,0,1,0000000250,0000000500,3,0000000000001,21:50,06/12/26,00012"));
    Span span;
    span.wallFrom = span.wallTo = when;
    const ExpectedLine tranLine = TranExpectation(line, span, std::chrono::seconds(0));
    EXPECT_TRUE(tranLine.Matches(tran));
    EXPECT_FALSE(tranLine.Matches("0003,01,0042,0000000000123,00000025,3,+0000001000,Paine" +
                                  std::string(34, ' ') + ",01,1,00012,06/12/26,21:50"));
    EXPECT_EQ(tranLine.DifferingFields("0003,01,0042,0000000000123,00000026,3,+0000001000,Paine" +
                                       std::string(35, ' ') + ",01,1,00012,06/12/26,21:49"),
              (std::vector<std::size_t>{5, 13}));
}

TEST(ShopRules, DatesAndTimesAroundMidnight) {
    const auto from = At(2026, 12, 31, 23, 59, 30);
    const auto to = At(2027, 1, 1, 0, 0, 20);
    EXPECT_EQ(DateTexts(from, to), (std::vector<std::string>{"31/12/26", "01/01/27"}));
    EXPECT_EQ(MinuteTexts(from, to), (std::vector<std::string>{"23:59", "00:00"}));
    EXPECT_EQ(MinuteTexts(to, to), (std::vector<std::string>{"00:00"}));
}

TEST(ShopRules, ScaleBarcodes) {
    const ArticleFile articles = Articles();
    // Weight 01234 g of an article at 10 with Comma 3: quantity 1234, price 12.34.
    SaleAnswer sale = AnswerSale(articles, AnswerSettings{"24", false}, "2412345012340", "1.000");
    ASSERT_TRUE(sale.found);
    EXPECT_TRUE(sale.weighed);
    EXPECT_EQ(sale.replyText, ";Carne tocata;12.34;100.000;1;1;1;;;");
    EXPECT_EQ(sale.line.articleCode, "2412345012340");
    EXPECT_EQ(sale.line.priceText, "10");
    EXPECT_EQ(sale.line.quantityText, "1234");
    EXPECT_DOUBLE_EQ(sale.lineValue, 12.34);
    sale = AnswerSale(articles, AnswerSettings{"24", true}, "2412345012340", "1.000");
    EXPECT_EQ(sale.replyText, ";Carne tocata;1234;100.000;1;1;1;;;");

    // The stored scale code itself is an ordinary article.
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2412345000000", "1.000");
    EXPECT_FALSE(sale.weighed);
    EXPECT_EQ(sale.line.quantityText, "1000");

    // Comma 1 rounds to whole units, Comma 0 gives the price 0, weight 0 gives 0.
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2400001015005", "1.000");
    EXPECT_EQ(sale.replyText, ";Cartofi;11;100.000;2;1;2;;;");  // 1.5 kg x 7.5 = 11.25
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2400002015005", "1.000");
    EXPECT_EQ(sale.replyText, ";Ceapa;0;100.000;2;1;2;;;");
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2400001000001", "1.000");
    EXPECT_EQ(sale.replyText, ";Cartofi;0;100.000;2;1;2;;;");
    // Comma 4: three decimals, 0.333 kg x 3.333 = 1.109889 -> 1.11.
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2400003003335", "1.000");
    EXPECT_EQ(sale.replyText, ";Morcovi;1.11;100.000;2;1;2;;;");

    // Unknown scale article: the key searched last is the article's scale code.
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "2499999012340", "1.000");
    EXPECT_FALSE(sale.found);
    EXPECT_EQ(sale.searchedKey, "2499999000000");
    // Another prefix: the same code is just unknown.
    sale = AnswerSale(articles, AnswerSettings{"29", false}, "2412345012340", "1.000");
    EXPECT_FALSE(sale.found);
    EXPECT_EQ(sale.searchedKey, "2412345012340");
}

TEST(ShopRules, OtherArticleReplies) {
    const ArticleFile articles = Articles();
    // EAN-13 searched unchanged; a Dept of one character; a long name with leading blanks.
    SaleAnswer sale = AnswerSale(articles, AnswerSettings{"24", false}, "5941234000017", "2.000");
    ASSERT_TRUE(sale.found);
    EXPECT_EQ(sale.replyText, ";Napolitane cu crema;7.99;100.000;6;1;3;;;");
    EXPECT_EQ(sale.line.name, "Napolitane cu crema");
    EXPECT_EQ(sale.line.quantityText, "2000");
    EXPECT_DOUBLE_EQ(sale.lineValue, 15.98);
    // A separator in a name would shift the reply's fields: it travels as a blank.
    sale = AnswerSale(articles, AnswerSettings{"24", false}, "7", "-1.000");
    EXPECT_EQ(sale.replyText, ";A B;0.00001;100.000;2;1;1;;;");
    EXPECT_EQ(sale.line.priceText, "000001");
    EXPECT_EQ(QuantityField(ParseNumber(sale.line.quantityText).value()), "-0000001000");
    EXPECT_FALSE(AnswerSale(articles, AnswerSettings{"24", false}, "124", "1.000").found);
}

TEST(ShopRules, DiscountLines) {
    const LastArticle last{"3", "01", "1"};
    DiscountAnswer d = AnswerDiscount("12.34", "-10.00", last);
    EXPECT_DOUBLE_EQ(d.value, -1.234);
    d.line.logicalNb = 3;
    d.line.operatorNo = "1";
    d.line.receiptNo = "42";
    d.line.zReportNo = "12";
    EXPECT_EQ(TranLineHead(d.line),
              "0003,01,0042,9999999999999,  -1.234,3,-0000001000,"
              "DISCOUNT (+/-)" +
                  std::string(26, ' ') + ",01,1,00012,");
    d = AnswerDiscount("x", "5.00", last);
    EXPECT_EQ(d.value, 0);
    EXPECT_EQ(d.line.priceText, "       0");
    EXPECT_EQ(QuantityField(0), "-0000000000");
}

TEST(ShopRules, ClosingFields) {
    EXPECT_EQ(PaymentTypeDigit(0), "0");
    EXPECT_EQ(PaymentTypeDigit(1), "1");
    EXPECT_EQ(PaymentTypeDigit(2), "3");
    EXPECT_EQ(PaymentTypeDigit(3), "2");
    EXPECT_EQ(PaymentTypeDigit(7), "");
    EXPECT_EQ(ClosingAmount("12.34", "3", false), "1234");
    EXPECT_EQ(ClosingAmount("12.34", "1", false), "12.34");
    EXPECT_EQ(ClosingAmount("12.34", "3", true), "12.34");
    EXPECT_EQ(ClosingAmount("2.50", "3", true), "2.50");  // as received
    EXPECT_EQ(ClosingAmount("", "3", false), "0");
    EXPECT_EQ(ClosingAmount("2.5", "", false), "2.5");  // no article known: as received
    EXPECT_EQ(PerRegisterFileName("Bon.txt", 3), "Bon.txt3.txt");
    EXPECT_EQ(PerRegisterFileName("Tran.txt", 12), "Tran.txt12.txt");
    EXPECT_EQ(PerRegisterFileName("C:\\BO\\Bon", 3), "C:\\BO\\Bon3");
    EXPECT_EQ(PerRegisterFileName("/srv/bo.d/Bon", 3), "/srv/bo.d/Bon3");
    EXPECT_EQ(Ean13CheckDigit("590123412345"), '7');
    EXPECT_EQ(Ean13CheckDigit("400638133393"), '1');
}

}  // namespace
}  // namespace tallyport::ecrsim
