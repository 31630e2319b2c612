#include <gtest/gtest.h>

#include "base/LocalClock.h"
#include "base/Padding.h"
#include "base/TickCount.h"

namespace tallyport {
namespace {

TEST(Padding, PadsShortTextsAndNeverCuts) {
    EXPECT_EQ(PadLeft("3", 4, '0'), "0003");
    EXPECT_EQ(PadLeft("", 2, '0'), "00");
    EXPECT_EQ(PadLeft("12345", 4, '0'), "12345");
    EXPECT_EQ(PadRight("Paine", 40, ' '), "Paine" + std::string(35, ' '));
    EXPECT_EQ(PadRight("DISCOUNT (+/-)", 40, ' ').size(), 40u);
    EXPECT_EQ(PadLeft("-1.234", 8, ' '), "  -1.234");
}

TEST(LocalClock, RecordTextForms) {
    LocalTime t{.year = 2026, .month = 12, .day = 6, .hour = 21, .minute = 50, .second = 7};
    EXPECT_EQ(FormatDateDDMMYY(t), "06/12/26");
    EXPECT_EQ(FormatTimeHHMM(t), "21:50");
    EXPECT_EQ(FormatTimestamp(t), "2026-12-06 21:50:07");
    LocalTime early{.year = 2009, .month = 1, .day = 2, .hour = 3, .minute = 4};
    EXPECT_EQ(FormatDateDDMMYY(early), "02/01/09");
    EXPECT_EQ(FormatTimeHHMM(early), "03:04");

    LocalTime now = DefaultLocalClock().Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

TEST(TickCount, DifferencesSurviveTheWrap) {
    EXPECT_EQ(TicksSince(0xFFFFFF00u, 0x00000010u), 0x110u);
    EXPECT_EQ(TicksSince(100u, 650u), 550u);
}

}  // namespace
}  // namespace tallyport
