#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "RequestFixture.h"

namespace tallyport::testing {
namespace {

// Several registers sell and close receipts at the same time into the same two files: every
// line arrives exactly once, whole, in order per register, and each receipt's closing line
// comes before its sale lines.
class SharedFiles : public InEveryLineMode<> {};

TEST_P(SharedFiles, FourRegistersShareTheOutputFiles) {
    constexpr int kRegisters = 4;
    constexpr int kReceipts = 8;
    constexpr int kSales = 3;
    std::vector<std::string> articles;
    for (int a = 0; a < kSales; ++a) {
        articles.push_back("000000000070" + std::to_string(a) + ",01,1," + std::to_string(a + 1) +
                           ",3,Articol " + std::to_string(a));
    }
    WriteArticles(articles);

    std::vector<SimulatedRegister*> regs;
    for (int r = 1; r <= kRegisters; ++r) {
        RegisterOptions options;
        options.logicalNb = r;
        options.fiscal = "S1";
        regs.push_back(&AddRegister(options));
    }
    // Every register's whole day is scripted up front; they run side by side.
    for (SimulatedRegister* reg : regs) {
        for (int receipt = 1; receipt <= kReceipts; ++receipt) {
            for (int s = 0; s < kSales; ++s) {
                reg->sim->Enqueue(sim::Answer::Frame(ArticleRequestBody(
                    "70" + std::to_string(s), std::to_string(receipt) + ".000")));
            }
            reg->sim->Enqueue(
                sim::Answer::Frame(ClosingBody("0", std::to_string(reg->Link().LogicalNb),
                                               std::to_string(receipt), "9", "1", "1")));
        }
    }
    auto deadline = std::chrono::steady_clock::now() + 60s;
    auto allDone = [&] {
        for (SimulatedRegister* reg : regs) {
            // A worker lets go of its pending lines just after they reached the file.
            if (reg->sim->QueuedAnswers() != 0 || !reg->PendingTran().empty()) {
                return false;
            }
        }
        return ReadCrLfLines(BonPath()).size() == kRegisters * kReceipts &&
               ReadCrLfLines(TranPath()).size() == kRegisters * kReceipts * kSales;
    };
    while (!allDone() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }

    auto bon = ReadCrLfLines(BonPath());
    auto tran = ReadCrLfLines(TranPath());
    ASSERT_EQ(bon.size(), static_cast<std::size_t>(kRegisters * kReceipts));
    ASSERT_EQ(tran.size(), static_cast<std::size_t>(kRegisters * kReceipts * kSales));

    std::map<int, int> nextReceipt;
    for (const std::string& line : bon) {
        int reg = std::stoi(line.substr(0, 4));
        int receipt = ++nextReceipt[reg];
        char expected[128];
        std::snprintf(
            expected, sizeof expected,
            "%04d,%02d,%04d,0,0,0000000100,0000000100,3,0000000000000,21:50,06/12/26,00009", reg,
            reg, receipt);
        EXPECT_EQ(line, expected);
    }
    for (int r = 1; r <= kRegisters; ++r) {
        EXPECT_EQ(nextReceipt[r], kReceipts) << "register " << r;
    }

    // Sale lines: per register in order, each after its receipt's closing line in time (the
    // closing line is appended before the sale lines it closes, in one locked step).
    std::map<int, int> nextSale;
    for (const std::string& line : tran) {
        int reg = std::stoi(line.substr(0, 4));
        int index = nextSale[reg]++;
        int receipt = index / kSales + 1;
        int article = index % kSales;
        char expected[160];
        std::snprintf(expected, sizeof expected,
                      "%04d,%02d,%04d,000000000070%d,0000000%d,3,+%010d,Articol %d%s,01,1,00009,"
                      "06/12/26,21:50",
                      reg, reg, receipt, article, article + 1, receipt * 1000, article,
                      std::string(31, ' ').c_str());
        EXPECT_EQ(line, expected);
    }
    for (int r = 1; r <= kRegisters; ++r) {
        EXPECT_EQ(nextSale[r], kReceipts * kSales) << "register " << r;
        EXPECT_TRUE(regs[static_cast<std::size_t>(r - 1)]->PendingTran().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, SharedFiles, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
