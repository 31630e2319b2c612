#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>

#include "RequestFixture.h"
#include "base/DecimalSeparator.h"
#include "serial/BlockSerial.h"
#include "support/RegionalSeparatorScope.h"

namespace tallyport::testing {
namespace {

using sim::PcKind;

const std::string kPaineClosed = "0003,01,0042,0000000000123,00000025,3,+0000001000,Paine" +
                                 std::string(35, ' ') + ",01,1,00012,06/12/26,21:50";
const std::string kWorkedClosing =
    "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012";

// Field `n` (1-based) of a comma-separated record.
std::string FieldOf(const std::string& line, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = line.find(',', start);
        if (start == std::string::npos) {
            return "<missing>";
        }
        ++start;
    }
    auto end = line.find(',', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class ReceiptClosing : public InEveryLineMode<> {
protected:
    void Close(SimulatedRegister& reg, const std::string& body) {
        auto result = Request(reg, body);
        EXPECT_TRUE(result.acked);
        ASSERT_TRUE(result.response) << "no padded acknowledgement";
        EXPECT_EQ(result.response->kind, PcKind::PaddedAck);
        EXPECT_EQ(result.response->bytes, sim::ExpectedPaddedAck());
    }
};

TEST_P(ReceiptClosing, PaddedAcknowledgementFollowsTheAcknowledgementThatTheAdapterStillHeld) {
    // The bare acknowledgement is still in the adapter 20 ms after it was handed over: the
    // padded acknowledgement's empty-queue check comes only once it has left, so the closing
    // is acknowledged and written, not left for a closing that may never come.
    RegisterOptions options;
    options.drainingQueue = AdapterQueue(20ms);
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()), kWorkedClosing + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaineClosed + "\r\n");
}

// The port's queue as a driver's, which sticks once armed and handed the bare acknowledgement
// (one byte): the padded acknowledgement then finds it full and is not sent.
class StuckAfterTheAck final : public LineStatusProbe {
public:
    StuckAfterTheAck(std::shared_ptr<test::DrainingQueueState> state,
                     std::shared_ptr<std::atomic<bool>> armed)
        : state_(std::move(state)), armed_(std::move(armed)) {}
    std::optional<int> OutputQueueCount(std::intptr_t) override { return state_->Count(); }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return std::nullopt; }
    void BytesQueued(std::intptr_t, int count) override {
        state_->Queue(count);
        if (count == 1 && armed_->exchange(false)) {
            state_->SetStuck(true);
        }
    }

private:
    std::shared_ptr<test::DrainingQueueState> state_;
    std::shared_ptr<std::atomic<bool>> armed_;
};

TEST_P(ReceiptClosing, AClosingNotAcknowledgedLeavesTheFirstAmountToItsRepeat) {
    // With RecAmount off only a receipt's first closing carries the first amount. When its
    // padded acknowledgement cannot be sent the register closes again: the repeat is still the
    // receipt's first closing, so the last-closing key it set is undone.
    auto queue = AdapterQueue(0ms);
    auto armed = std::make_shared<std::atomic<bool>>(false);
    RegisterOptions options;
    options.recAmount = false;
    options.beforeStart = [queue, armed](TSerialExtended& link) {
        link.Port.SetLineStatusProbe(std::make_unique<StuckAfterTheAck>(queue, armed));
    };
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    armed->store(true);
    const auto refused =
        reg.sim->Exchange(sim::Answer::Frame(ClosingBody("0", "1", "42", "12", "2.5", "5")), 3s);
    EXPECT_FALSE(refused.response) << "the padded acknowledgement went out";
    EXPECT_EQ(context_.LastClosingKey(), "");
    queue->SetStuck(false);
    ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 5s));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()), kWorkedClosing + "\r\n");
    EXPECT_EQ(context_.LastClosingKey(), "0003,01,0042");
}

TEST_P(ReceiptClosing, TheArticleNameReachesTheTransactionFileAsTheArticleFileHasIt) {
    // ";" and a letter of an 8-bit code page stay; the line break (written "%c" in the article
    // file) would split the record and becomes a blank. The reply has its own form.
    WriteArticles({"0000000000307,01,1,3,3,Apa;plat\xE3%cmare"});
    auto& reg = AddRegister();
    auto reply = Request(reg, ArticleRequestBody("307"));
    ASSERT_TRUE(reply.response);
    EXPECT_EQ(reply.response->text, ";APA PLAT\xE3 MARE;3;100.000;1;1;1;;;");
    Close(reg, ClosingBody("0", "1", "42", "12", "3", "3"));
    const std::string name = "Apa;plat\xE3 mare";
    EXPECT_EQ(ReadFile(TranPath()), "0003,01,0042,0000000000307,00000003,3,+0000001000," + name +
                                        std::string(40 - name.size(), ' ') +
                                        ",01,1,00012,06/12/26,21:50\r\n");
}

TEST_P(ReceiptClosing, WorkedExampleWritesBothFiles) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()), kWorkedClosing + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaineClosed + "\r\n");
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(reg.PendingBon().empty());

    // The next receipt is appended after the first.
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("1", "1", "43", "12", "2.5", "2.5"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(bon[1],
              "0003,01,0043,1,0,0000000250,0000000250,3,0000000000000,21:50,06/12/26,00012");
    auto tran = ReadCrLfLines(TranPath());
    ASSERT_EQ(tran.size(), 2u);
    EXPECT_EQ(FieldOf(tran[1], 3), "0043");
    EXPECT_EQ(reg.Link().Status.Snapshot().receipts, 2u);
    EXPECT_EQ(reg.Link().Status.Snapshot().lastError, "");
}

TEST_P(ReceiptClosing, SalesDiscountAndVoidInOrder) {
    WriteArticles({kPaineArticle, "0000000000124,02,2,4,3,Lapte", "0000000000125,02,2,9.99,3,Unt"});
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Request(reg, ArticleRequestBody("124"));
    Request(reg, ArticleRequestBody("125"));
    Request(reg, DiscountBody("12.34", "-10.00"));
    EXPECT_EQ(reg.PendingTran().size(), 4u);
    Request(reg, "S1;X;B");  // the discount goes
    Request(reg, "S1;X;F");  // and the butter
    ASSERT_EQ(reg.PendingTran().size(), 2u);
    Close(reg, ClosingBody("0", "7", "5", "3", "6.5", "10"));
    auto tran = ReadCrLfLines(TranPath());
    ASSERT_EQ(tran.size(), 2u);
    EXPECT_EQ(FieldOf(tran[0], 4), "0000000000123");
    EXPECT_EQ(FieldOf(tran[1], 4), "0000000000124");
    for (const auto& line : tran) {
        EXPECT_EQ(FieldOf(line, 2), "07");
        EXPECT_EQ(FieldOf(line, 3), "0005");
        EXPECT_EQ(FieldOf(line, 11), "00003");
    }
}

TEST_P(ReceiptClosing, DiscountLine) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));  // Dept, VAT and Comma come from the last article
    EXPECT_EQ(Request(reg, DiscountBody("12.34", "-10.00")).response, std::nullopt);
    Request(reg, DiscountBody("5", "20.00"));
    Request(reg, DiscountBody("abc", "5.00"));  // a value that is no number gives 0
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 4u);
    const std::string tail = ",01,1,NRZZZ,06/12/26,21:50";
    const std::string name = "DISCOUNT (+/-)" + std::string(26, ' ');
    EXPECT_EQ(lines[1], "0003,OP,NRBN,9999999999999,  -1.234,3,-0000001000," + name + tail);
    EXPECT_EQ(lines[2], "0003,OP,NRBN,9999999999999,       1,3,+0000002000," + name + tail);
    EXPECT_EQ(lines[3], "0003,OP,NRBN,9999999999999,       0,3,+0000000500," + name + tail);
    // A rate that is no number records nothing.
    Request(reg, DiscountBody("5", "x"));
    EXPECT_EQ(reg.PendingTran().size(), 4u);
    EXPECT_TRUE(reg.worker->Running());
}

TEST_P(ReceiptClosing, DiscountsOffAreDropped) {
    RegisterOptions options;
    options.recDiscount = false;
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    Request(reg, DiscountBody("12.34", "-10.00"));
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
}

TEST_P(ReceiptClosing, PaymentTypesAndAmountFlag) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    const std::vector<std::pair<std::string, std::string>> types = {
        {"0", "0"}, {"1", "1"}, {"2", "3"}, {"3", "2"}, {"7", ""}, {"", "0"}};
    int receipt = 1;
    for (const auto& [code, written] : types) {
        Close(reg, ClosingBody(code, "1", std::to_string(receipt++), "12", "5", "2.5"));
    }
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(FieldOf(bon[i], 4), types[i].second) << "payment code " << types[i].first;
        EXPECT_EQ(FieldOf(bon[i], 5), "0");  // 5 is not less than 2.5
    }
    EXPECT_EQ(bon[4], "0003,01,0005,,0,0000000500,0000000250,3,0000000000000,21:50,06/12/26,00012");
    // Empty amounts count as 0; the flag compares numbers, not texts.
    Close(reg, ClosingBody("0", "1", "9", "12", "", ""));
    Close(reg, ClosingBody("0", "1", "10", "12", "9", "10"));
    bon = ReadCrLfLines(BonPath());
    EXPECT_EQ(FieldOf(bon[6], 5), "0");
    EXPECT_EQ(FieldOf(bon[6], 6), "0000000000");
    EXPECT_EQ(FieldOf(bon[7], 5), "1");
}

TEST_P(ReceiptClosing, OneFirstAmountPerReceiptWithoutRecAmount) {
    RegisterOptions options;
    options.recAmount = false;
    auto& reg3 = AddRegister(options);
    options.logicalNb = 4;
    auto& reg4 = AddRegister(options);
    Request(reg3, ArticleRequestBody("123"));
    // Receipt 42 paid in cash and by card: two closings.
    Close(reg3, ClosingBody("0", "1", "42", "12", "2.5", "1"));
    Close(reg3, ClosingBody("1", "1", "42", "12", "2.5", "1.5"));
    // A closing of another register in between: the next one keeps its amount.
    Close(reg3, ClosingBody("0", "1", "43", "12", "4", "2"));
    Close(reg4, ClosingBody("0", "1", "43", "12", "8", "8"));
    Close(reg3, ClosingBody("1", "1", "43", "12", "4", "2"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 5u);
    EXPECT_EQ(bon[0],
              "0003,01,0042,0,0,0000000250,0000000100,3,0000000000000,21:50,06/12/26,00012");
    EXPECT_EQ(bon[1],
              "0003,01,0042,1,0,0000000000,0000000150,3,0000000000000,21:50,06/12/26,00012");
    EXPECT_EQ(FieldOf(bon[2], 6), "0000000400");
    EXPECT_EQ(FieldOf(bon[3], 1), "0004");
    EXPECT_EQ(FieldOf(bon[3], 6), "0000000008");  // register 4 looked up nothing: as received
    EXPECT_EQ(FieldOf(bon[4], 6), "0000000400");
    EXPECT_EQ(context_.LastClosingKey(), "0003,01,0043");
}

TEST_P(ReceiptClosing, RecAmountOnKeepsEveryFirstAmount) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "1"));
    Close(reg, ClosingBody("1", "1", "42", "12", "2.5", "1.5"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(FieldOf(bon[1], 6), "0000000250");
    EXPECT_EQ(context_.LastClosingKey(), "");
}

TEST_P(ReceiptClosing, AmountsScaledByTheLastArticlesComma) {
    WriteArticles({kPaineArticle, "0000000000500,01,1,3,1,Bucata"});
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));  // Comma 3: hundredths
    Close(reg, ClosingBody("0", "1", "1", "1", "12.34", "12.34"));
    Request(reg, ArticleRequestBody("500"));  // Comma 1: as they are
    Close(reg, ClosingBody("0", "1", "2", "1", "12.34", "0.1"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(FieldOf(bon[0], 6), "0000001234");
    EXPECT_EQ(FieldOf(bon[0], 7), "0000001234");
    EXPECT_EQ(FieldOf(bon[0], 8), "3");
    EXPECT_EQ(FieldOf(bon[1], 6), "0000012.34");
    EXPECT_EQ(FieldOf(bon[1], 7), "00000000.1");
    EXPECT_EQ(FieldOf(bon[1], 8), "1");
}

TEST_P(ReceiptClosing, AmountsAsReceivedWithRecDecimals) {
    RegisterOptions options;
    options.recDecimals = true;
    auto& reg = AddRegister(options);
    auto reply = Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(reply.response);
    EXPECT_EQ(reply.response->text, ";PAINE;250;100.000;1;1;1;;;");
    Close(reg, ClosingBody("0", "1", "1", "1", "12.34", "12.340"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 1u);
    EXPECT_EQ(FieldOf(bon[0], 6), "0000012.34");
    EXPECT_EQ(FieldOf(bon[0], 7), "000012.340");
    EXPECT_EQ(FieldOf(bon[0], 5), "0");  // equal as numbers
}

TEST_P(ReceiptClosing, ClosingBeforeAnyArticleWritesTheAmountsAsReceived) {
    // No article looked up on this link yet: no Comma to scale by. The closing still goes out
    // whole, with the amounts as the register sent them and an empty decimals code.
    auto& reg = AddRegister();
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()),
              "0003,01,0042,0,1,00000002.5,0000000005,,0000000000000,21:50,06/12/26,00012\r\n");
    EXPECT_EQ(ReadFile(TranPath()), "");
    EXPECT_TRUE(reg.PendingBon().empty());
}

TEST_P(ReceiptClosing, ABadNumberWritesNothingAndTheLinesWaitForTheNextClosing) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2,5", "5"));  // the padded ACK still goes out
    Close(reg, ClosingBody("x", "1", "42", "12", "2.5", "5"));
    struct stat st {};
    EXPECT_NE(::stat(BonPath().c_str(), &st), 0) << "nothing may be written";
    EXPECT_NE(::stat(TranPath().c_str(), &st), 0);
    EXPECT_TRUE(reg.PendingBon().empty());
    // The sale keeps the numbers of the receipt it was sold on.
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{kPaineClosed});
    EXPECT_TRUE(reg.worker->Running());

    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "2", "43", "12", "5", "5"));
    auto tran = ReadCrLfLines(TranPath());
    ASSERT_EQ(tran.size(), 2u);
    EXPECT_EQ(tran[0], kPaineClosed);
    EXPECT_EQ(FieldOf(tran[1], 2), "02");
    EXPECT_EQ(FieldOf(tran[1], 3), "0043");
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 1u);
}

TEST_P(ReceiptClosing, FailedTransactionFileKeepsItsLinesAndWritesTheClosingOnce) {
    const std::string tranFolder = folder_.File("detail");
    RegisterOptions options;
    options.tranFile = tranFolder + "/Tran.txt";  // the folder does not exist yet
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()), kWorkedClosing + "\r\n");
    EXPECT_TRUE(reg.PendingBon().empty());
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{kPaineClosed});
    EXPECT_TRUE(reg.worker->Running());
    auto notices = notices_.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].title, "Eroare");
    EXPECT_EQ(notices[0].text, "Nu se poate scrie in fisierul " + options.tranFile +
                                   "! Liniile bonului raman in asteptare.");
    EXPECT_EQ(notices[0].icon, NoticeIcon::Error);
    // Not counted as recorded; the reason stays for the status view.
    EXPECT_EQ(reg.Link().Status.Snapshot().receipts, 0u);
    EXPECT_NE(reg.Link().Status.Snapshot().lastError.find(options.tranFile), std::string::npos)
        << reg.Link().Status.Snapshot().lastError;

    ASSERT_EQ(::mkdir(tranFolder.c_str(), 0755), 0);
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "43", "12", "2.5", "5"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(bon[0], kWorkedClosing);
    EXPECT_EQ(FieldOf(bon[1], 3), "0043");
    auto tran = ReadCrLfLines(options.tranFile);
    ASSERT_EQ(tran.size(), 2u);
    EXPECT_EQ(tran[0], kPaineClosed);
    EXPECT_EQ(FieldOf(tran[1], 3), "0043");
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_EQ(notices_.Notices().size(), 1u);
}

TEST_P(ReceiptClosing, FailedClosingFileKeepsEverythingPending) {
    const std::string notAFolder = folder_.File("plain");
    WriteFile(notAFolder, "x");
    RegisterOptions options;
    options.bonFile = notAFolder + "/Bon.txt";
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(reg.PendingBon(), std::vector<std::string>{kWorkedClosing});
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{kPaineClosed});
    struct stat st {};
    EXPECT_NE(::stat(TranPath().c_str(), &st), 0) << "no sale line before its closing line";
    EXPECT_TRUE(reg.worker->Running());
    auto notices = notices_.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].text.find(options.bonFile), std::string::npos) << notices[0].text;
}

TEST_P(ReceiptClosing, SeparateFilesPerRegister) {
    RegisterOptions options;
    options.logicalNb = 12;
    options.bonFile = PerRegisterFileName(BonPath(), 12);
    options.tranFile = PerRegisterFileName(TranPath(), 12);
    EXPECT_EQ(options.bonFile, folder_.File("Bon.txt12.txt"));
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadCrLfLines(folder_.File("Bon.txt12.txt")).size(), 1u);
    auto tran = ReadCrLfLines(folder_.File("Tran.txt12.txt"));
    ASSERT_EQ(tran.size(), 1u);
    EXPECT_EQ(FieldOf(tran[0], 1), "0012");
    struct stat st {};
    EXPECT_NE(::stat(BonPath().c_str(), &st), 0);
}

TEST_P(ReceiptClosing, ExistingFilesAreAppendedTo) {
    WriteFile(BonPath(), "earlier closing\r\n");
    WriteFile(TranPath(), "earlier sale\r\n");
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_EQ(ReadFile(BonPath()), "earlier closing\r\n" + kWorkedClosing + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), "earlier sale\r\n" + kPaineClosed + "\r\n");
}

TEST_P(ReceiptClosing, AmountsUseAPointWhateverTheRegionalSeparator) {
    test::RegionalSeparatorScope comma(',');
    WriteArticles({kPaineArticle, "0000000000500,01,1,3,1,Bucata"});
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("500"));
    Close(reg, ClosingBody("0", "1", "42", "12", "2.5", "12.34"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 1u);
    EXPECT_EQ(FieldOf(bon[0], 6), "00000002.5");
    EXPECT_EQ(FieldOf(bon[0], 7), "0000012.34");
}

INSTANTIATE_TEST_SUITE_P(Lines, ReceiptClosing, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
