#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "requests/ReceiptClosing.h"
#include "requests/RequestContext.h"
#include "requests/TranRecord.h"

namespace tallyport {
namespace {

const LocalTime kSaturdayEvening{.year = 2026, .month = 12, .day = 6, .hour = 21, .minute = 50};
const std::string kPaineName = "Paine" + std::string(35, ' ');

TranLineFields PaineSale() {
    return {.logicalNb = 3,
            .articleCode = "0000000000123",
            .priceText = "25",
            .commaText = "3",
            .quantity = 1000,
            .articleName = "Paine",
            .deptText = "01",
            .vatText = "1"};
}

TEST(TranRecord, PendingLineOfOneSale) {
    EXPECT_EQ(FormatPendingTranLine(PaineSale(), kSaturdayEvening),
              "0003,OP,NRBN,0000000000123,00000025,3,+0000001000," + kPaineName +
                  ",01,1,NRZZZ,06/12/26,21:50");
}

TEST(TranRecord, PaddingNeverCutsAndPadsShortFields) {
    TranLineFields f = PaineSale();
    f.logicalNb = 12345;
    f.articleCode = "12345678901234";  // longer than 13 stays whole
    f.priceText = "123456789";
    f.deptText = "7";
    f.articleName = std::string(45, 'N');
    f.commaText = "";
    f.vatText = "";
    EXPECT_EQ(FormatPendingTranLine(f, kSaturdayEvening),
              "12345,OP,NRBN,12345678901234,123456789,,+0000001000," + std::string(45, 'N') +
                  ",07,,NRZZZ,06/12/26,21:50");
}

TEST(TranRecord, QuantitySignAndPadding) {
    EXPECT_EQ(QuantityField(1000), "+0000001000");
    EXPECT_EQ(QuantityField(0), "-0000000000");
    EXPECT_EQ(QuantityField(-0.0), "-0000000000");
    EXPECT_EQ(QuantityField(-2500), "-0000002500");
    EXPECT_EQ(QuantityField(1234), "+0000001234");
    EXPECT_EQ(QuantityField(0.5), "+00000000.5");
    EXPECT_EQ(QuantityField(12345678901.0), "+12345678901");
}

TEST(TranRecord, DiscountLineLayout) {
    TranLineFields f{.logicalNb = 3,
                     .articleCode = "9999999999999",
                     .priceText = "  -1.234",
                     .commaText = "3",
                     .quantity = -1000,
                     .articleName = "DISCOUNT (+/-)",
                     .deptText = "01",
                     .vatText = "1"};
    EXPECT_EQ(FormatPendingTranLine(f, kSaturdayEvening),
              "0003,OP,NRBN,9999999999999,  -1.234,3,-0000001000,DISCOUNT (+/-)" +
                  std::string(26, ' ') + ",01,1,NRZZZ,06/12/26,21:50");
}

TEST(TranRecord, ClosingFillsTheReceiptNumbers) {
    std::string line = FormatPendingTranLine(PaineSale(), kSaturdayEvening);
    EXPECT_TRUE(FillReceiptNumbers(line, ReceiptNumbers::FromFields("1", "42", "12")));
    EXPECT_EQ(line, "0003,01,0042,0000000000123,00000025,3,+0000001000," + kPaineName +
                        ",01,1,00012,06/12/26,21:50");
}

TEST(TranRecord, FillingTouchesOnlyThePlaceholderFields) {
    TranLineFields f = PaineSale();
    f.articleName = "SHOP NRZZZ NRBN OP";
    f.articleCode = "0000000000OP1";
    std::string line = FormatPendingTranLine(f, kSaturdayEvening);
    ASSERT_TRUE(FillReceiptNumbers(line, ReceiptNumbers::FromFields("7", "5", "3")));
    EXPECT_EQ(line, "0003,07,0005,0000000000OP1,00000025,3,+0000001000," +
                        std::string("SHOP NRZZZ NRBN OP") + std::string(22, ' ') +
                        ",01,1,00003,06/12/26,21:50");

    // A line filled by an earlier closing (kept pending after a failed write) keeps its numbers.
    std::string again = line;
    EXPECT_FALSE(FillReceiptNumbers(again, ReceiptNumbers::FromFields("9", "9", "9")));
    EXPECT_EQ(again, line);
}

TEST(TranRecord, LongReceiptNumbersStayWhole) {
    std::string line = FormatPendingTranLine(PaineSale(), kSaturdayEvening);
    ASSERT_TRUE(FillReceiptNumbers(line, ReceiptNumbers::FromFields("123", "123456", "1234567")));
    EXPECT_EQ(line, "0003,123,123456,0000000000123,00000025,3,+0000001000," + kPaineName +
                        ",01,1,1234567,06/12/26,21:50");
}

TEST(BonRecord, ClosingLineOfTheWorkedExample) {
    BonLineFields f{.logicalNb = 3,
                    .numbers = ReceiptNumbers::FromFields("1", "42", "12"),
                    .paymentType = PaymentTypeField(0),
                    .amountFlag = "1",
                    .amount1 = "250",
                    .amount2 = "500",
                    .commaText = "3",
                    .cardReference = ""};
    EXPECT_EQ(FormatBonLine(f, kSaturdayEvening),
              "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012");
    f.cardReference = "4111";
    f.amount1 = "12345678901";
    f.paymentType = PaymentTypeField(7);
    EXPECT_EQ(FormatBonLine(f, kSaturdayEvening),
              "0003,01,0042,,1,12345678901,0000000500,3,0000000004111,21:50,06/12/26,00012");
}

TEST(BonRecord, PaymentTypeMap) {
    EXPECT_EQ(PaymentTypeField(0), "0");
    EXPECT_EQ(PaymentTypeField(1), "1");
    EXPECT_EQ(PaymentTypeField(2), "3");
    EXPECT_EQ(PaymentTypeField(3), "2");
    EXPECT_EQ(PaymentTypeField(4), "");
    EXPECT_EQ(PaymentTypeField(7), "");
    EXPECT_EQ(PaymentTypeField(-1), "");
}

TEST(RequestContext, LastClosingKeyComparesWithThePreviousOne) {
    RequestContext context;
    EXPECT_EQ(context.LastClosingKey(), "");
    EXPECT_FALSE(context.ReplaceLastClosingKey("0003,01,0042"));
    EXPECT_TRUE(context.ReplaceLastClosingKey("0003,01,0042"));
    EXPECT_FALSE(context.ReplaceLastClosingKey("0004,01,0042"));
    EXPECT_FALSE(context.ReplaceLastClosingKey("0003,01,0042"));
    EXPECT_EQ(context.LastClosingKey(), "0003,01,0042");
}

TEST(RequestContext, LastClosingKeyFromManyWorkers) {
    RequestContext context;
    constexpr int kThreads = 4;
    std::vector<std::thread> workers;
    std::atomic<int> repeats{0};
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            const std::string key = "000" + std::to_string(t) + ",01,0001";
            for (int i = 0; i < 2000; ++i) {
                repeats += context.ReplaceLastClosingKey(key) ? 1 : 0;
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    // Each thread's first call can never see its own key; every other call may.
    EXPECT_LE(repeats.load(), kThreads * 1999);
    std::string last = context.LastClosingKey();
    EXPECT_EQ(last.size(), 12u);
    EXPECT_EQ(last.substr(4), ",01,0001");
}

}  // namespace
}  // namespace tallyport
