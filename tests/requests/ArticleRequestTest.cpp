#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "RequestFixture.h"
#include "base/DecimalSeparator.h"
#include "serial/LineTime.h"
#include "support/RegionalSeparatorScope.h"

namespace tallyport::testing {
namespace {

using sim::ExpectedReply;
using sim::PcKind;

// The reply text the register receives (upper-cased by the link).
std::string ReplyText(const sim::ExchangeResult& result) {
    if (!result.response || result.response->kind != PcKind::Reply) {
        return "<no reply>";
    }
    return result.response->text;
}

class ArticleRequest : public InEveryLineMode<> {};

TEST_P(ArticleRequest, WorkedExampleRepliesAndRecordsTheSale) {
    auto& reg = AddRegister();
    auto result = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(result.acked);
    ASSERT_TRUE(result.response);
    EXPECT_EQ(result.response->bytes, ExpectedReply(";Paine;2.5;100.000;1;1;1;;;"));
    EXPECT_EQ(result.response->text, ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_TRUE(result.response->crcOk);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    EXPECT_EQ(reg.Field(&RequestFields::ArticleCode), "0000000000123");
    EXPECT_EQ(reg.Field(&RequestFields::PriceText), "25");
    EXPECT_TRUE(notices_.Notices().empty());
    EXPECT_EQ(reg.Link().Status.Snapshot().sales, 1u);

    // Type 7 is the same request.
    Request(reg, ArticleRequestBody("123", "2.000", "S1", '7'));
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(",+0000002000,"), std::string::npos) << lines[1];
    EXPECT_EQ(reg.Link().Status.Snapshot().sales, 2u);
}

TEST_P(ArticleRequest, ReplyFollowsTheAcknowledgementThatTheAdapterStillHeld) {
    // The bare acknowledgement is still in the adapter 20 ms after it was handed over: the
    // reply's empty-queue check comes only once it has left, so the reply goes out.
    RegisterOptions options;
    options.drainingQueue = AdapterQueue(20ms);
    auto& reg = AddRegister(options);
    for (int i = 0; i < 2; ++i) {
        auto result = Request(reg, ArticleRequestBody("123"));
        EXPECT_TRUE(result.acked);
        EXPECT_EQ(ReplyText(result), ";PAINE;2.5;100.000;1;1;1;;;");
    }
    EXPECT_EQ(reg.PendingTran().size(), 2u);
}

TEST_P(ArticleRequest, ConfirmationWindowCountsFromTheReplysLastByteOnTheLine) {
    // The adapter starts sending 150 ms after each write; the reply then takes its 42 ms on the
    // wire, and the register confirms 5 ms after its last byte: 197 ms after the write began,
    // well past 110 ms, but within 110 ms of the reply's end on the line.
    const std::string reply = ExpectedReply(";Paine;2.5;100.000;1;1;1;;;");
    PortSettings line;
    line.BaudRate = 9600;
    line.ByteSize = 8;
    const auto onWire = std::chrono::ceil<std::chrono::milliseconds>(WireTime(line, reply.size()));
    RegisterOptions options;
    options.drainingQueue = AdapterQueue(150ms);
    options.confirmation =
        sim::Confirmation{.enabled = true, .delayMs = static_cast<int>(150 + onWire.count() + 5)};
    auto& reg = AddRegister(options);
    auto result = Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(result.response);
    EXPECT_EQ(result.response->bytes, reply);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)})
        << "a sale the register confirmed was not recorded";
}

TEST_P(ArticleRequest, ScaleBarcodePricesTheWeighedQuantity) {
    WriteArticles({kPaineArticle, "2412345000000,01,2,10,3,Branza"});
    auto& reg = AddRegister();
    auto result = Request(reg, ArticleRequestBody("2412345012340", "1.000"));
    EXPECT_EQ(ReplyText(result), ";BRANZA;12.34;100.000;1;1;2;;;");
    EXPECT_EQ(reg.PendingTran(),
              std::vector<std::string>{"0003,OP,NRBN,2412345012340,00000010,3,+0000001234,Branza" +
                                       std::string(34, ' ') + ",01,2,NRZZZ,06/12/26,21:50"});

    // Two units of the weighed article: 2 x 1.234 kg.
    result = Request(reg, ArticleRequestBody("2412345012340", "2.000"));
    EXPECT_EQ(ReplyText(result), ";BRANZA;24.68;100.000;1;1;2;;;");
    // A weight of 0 gives the price 0 and the quantity 0 (sign "-").
    result = Request(reg, ArticleRequestBody("2412345000007", "1.000"));
    EXPECT_EQ(ReplyText(result), ";BRANZA;0;100.000;1;1;2;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",2412345012340,00000010,3,+0000002468,"), std::string::npos);
    EXPECT_NE(lines[2].find(",2412345000007,00000010,3,-0000000000,"), std::string::npos);
}

TEST_P(ArticleRequest, ScaleBarcodeWithRecDecimalsAndNegativeQuantity) {
    WriteArticles({"2412345000000,01,2,10,3,Branza"});
    RegisterOptions options;
    options.recDecimals = true;
    auto& reg = AddRegister(options);
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2412345012340"))),
              ";BRANZA;1234;100.000;1;1;2;;;");
    // A returned weighed article: one leading sign, not one per part.
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2412345012340", "-1.000"))),
              ";BRANZA;-1234;100.000;1;1;2;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(",-0000001234,"), std::string::npos) << lines[1];
}

TEST_P(ArticleRequest, CommaOfTheWeighedArticleSetsTheRounding) {
    WriteArticles({"2400001000000,01,1,10,1,Unitati", "2400002000000,01,1,10,0,Fara",
                   "2400003000000,01,1,10,2,Zecimi"});
    auto& reg = AddRegister();
    // Comma 1: whole units, half away from zero (12.5 gives 13).
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2400001012340"))),
              ";UNITATI;12;100.000;1;1;1;;;");
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2400001012500"))),
              ";UNITATI;13;100.000;1;1;1;;;");
    // Comma 0 asks for 255 places, which cannot be done: the price is 0.
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2400002012340"))),
              ";FARA;0;100.000;1;1;1;;;");
    // Comma 2: tenths; 1.235 kg at 10 is 12.35, rounded to 12.4.
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2400003012350"))),
              ";ZECIMI;12.4;100.000;1;1;1;;;");
    EXPECT_EQ(reg.PendingTran().size(), 4u);
}

TEST_P(ArticleRequest, ScaleRuleAppliesOnlyWhenTheDirectSearchFails) {
    WriteArticles({"2412345012340,05,1,7.5,3,Cod intreg", "2412345000000,01,2,10,3,Branza",
                   "5941234567890,02,1,3.2,3,Ciocolata"});
    auto& reg = AddRegister();
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("2412345012340"))),
              ";COD INTREG;7.5;100.000;5;1;1;;;");
    // An EAN-13 is searched as it is.
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("5941234567890"))),
              ";CIOCOLATA;3.2;100.000;2;1;1;;;");
    EXPECT_EQ(reg.PendingTran().size(), 2u);
}

TEST_P(ArticleRequest, UnknownArticleIsNotAnsweredAndTheUserIsTold) {
    auto& reg = AddRegister();
    auto result = Request(reg, ArticleRequestBody("999"));
    EXPECT_TRUE(result.acked);
    EXPECT_FALSE(result.response);
    EXPECT_TRUE(result.nextPoll);
    EXPECT_TRUE(reg.PendingTran().empty());
    // An unknown scale code names the key searched last.
    Request(reg, ArticleRequestBody("2499999012340"));
    auto notices = notices_.Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].title, "Eroare");
    EXPECT_EQ(notices[0].text,
              "Se solicita vanzarea unui articol inexistent in PLU.txt: 0000000000999!");
    EXPECT_EQ(notices[0].seconds, 10);
    EXPECT_EQ(notices[0].icon, NoticeIcon::Error);
    EXPECT_EQ(notices[1].text,
              "Se solicita vanzarea unui articol inexistent in PLU.txt: 2499999000000!");
    EXPECT_TRUE(reg.PendingTran().empty());
}

TEST_P(ArticleRequest, RequestOfAnotherRegisterIsIgnored) {
    auto& reg = AddRegister();
    auto result = Request(reg, ArticleRequestBody("123", "1.000", "S2"));
    EXPECT_TRUE(result.acked);
    EXPECT_FALSE(result.response);
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(notices_.Notices().empty());
    // Not a prefix match either.
    Request(reg, ArticleRequestBody("123", "1.000", "S"));
    EXPECT_TRUE(reg.PendingTran().empty());
}

TEST_P(ArticleRequest, UnconfirmedReplyRecordsNothing) {
    RegisterOptions options;
    options.confirmation.enabled = false;
    auto& reg = AddRegister(options);
    auto result = Request(reg, ArticleRequestBody("123"));
    EXPECT_EQ(ReplyText(result), ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_EQ(reg.Link().Status.Snapshot().sales, 0u);
}

TEST_P(ArticleRequest, ConfirmationMustBeAnAckAmongFillers) {
    RegisterOptions options;
    options.confirmation.enabled = false;
    // A timed line: the confirmation's bytes arrive one character time apart, so the fillers
    // before the ACK come first, alone.
    auto& reg = AddRegister(options);
    // The register's confirmation bytes follow its request 30 ms later, whenever the reply goes
    // out: waiting on the line or arriving within the wait, the worker reads them either way.
    auto confirmWith = [&](const std::string& bytes) {
        const std::string frame = sim::FrameBytes(ArticleRequestBody("123"));
        auto result = Request(reg, sim::Answer::Raw(frame + bytes).GapBefore(frame.size(), 30));
        EXPECT_EQ(ReplyText(result), ";PAINE;2.5;100.000;1;1;1;;;");
    };
    confirmWith("\xFF\xFF\xFF");
    EXPECT_TRUE(reg.PendingTran().empty());
    confirmWith("\xFF\x06\xFF");
    EXPECT_EQ(reg.PendingTran().size(), 1u);
    confirmWith("\x15");
    EXPECT_EQ(reg.PendingTran().size(), 1u);
    confirmWith("\x06");
    EXPECT_EQ(reg.PendingTran().size(), 2u);
    confirmWith("\xFF\xFF\xFF\x06\xFF");
    EXPECT_EQ(reg.PendingTran().size(), 3u);
}

TEST_P(ArticleRequest, FillersAroundTheConfirmationAreDropped) {
    RegisterOptions options;
    // On a timed line the fillers arrive one character time apart, ahead of the ACK: the worker,
    // waiting since the reply left, sees them first and alone.
    options.confirmation.fillersBefore = 8;
    options.confirmation.fillersAfter = 2;
    options.confirmation.delayMs = 20;
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
}

TEST_P(ArticleRequest, RewrittenArticleFileIsSeenByTheNextRequest) {
    auto& reg = AddRegister();
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))), ";PAINE;2.5;100.000;1;1;1;;;");
    RewriteArticles({"0000000000123,01,1,2.75,3,Paine alba", "0000000000124,02,2,4,3,Lapte"});
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))),
              ";PAINE ALBA;2.75;100.000;1;1;1;;;");
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("124"))), ";LAPTE;4;100.000;2;1;2;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",0000000000123,00000275,3,+0000001000,Paine alba"), std::string::npos);
}

// Opened once by one thread, awaited by another.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

TEST_P(ArticleRequest, TradingGoesOnWhileANewArticleFileLoadsAndItsPricesFollow) {
    // The loader's first read of the new file is held before it is handed out, until both
    // registers have traded on the table in hand.
    struct Load {
        Gate reading;
        Gate release;
        std::atomic<int> reads{0};
    };
    auto load = std::make_shared<Load>();
    afterEachRead_ = [load] {
        if (++load->reads == 1) {
            load->reading.Open();
            load->release.WaitFor(30s);
        }
    };
    struct ReleaseOnExit {
        Load& load;
        ~ReleaseOnExit() { load.release.Open(); }
    } releaseOnExit{*load};
    WriteArticles({kPaineArticle});
    auto& three = AddRegister();
    RegisterOptions fourth;
    fourth.logicalNb = 4;
    auto& four = AddRegister(fourth);
    const std::string oldReply = ";PAINE;2.5;100.000;1;1;1;;;";
    const std::string newReply = ";PAINE ALBA;2.75;100.000;1;1;1;;;";

    RewriteArticles({"0000000000123,01,1,2.75,3,Paine alba"}, false);
    EXPECT_EQ(ReplyText(Request(three, ArticleRequestBody("123"))), oldReply);
    ASSERT_TRUE(load->reading.WaitFor(10s)) << "the new file was not read";
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ReplyText(Request(three, ArticleRequestBody("123"))), oldReply);
        EXPECT_EQ(ReplyText(Request(four, ArticleRequestBody("123"))), oldReply);
    }
    EXPECT_EQ(load->reads, 1);

    load->release.Open();
    ASSERT_TRUE(holder_->WaitUntilSettled(10s));
    EXPECT_EQ(ReplyText(Request(three, ArticleRequestBody("123"))), newReply);
    EXPECT_EQ(ReplyText(Request(four, ArticleRequestBody("123"))), newReply);
    const auto lines = three.PendingTran();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(",0000000000123,00000025,3,+0000001000,Paine "), std::string::npos);
    EXPECT_NE(lines[3].find(",0000000000123,00000275,3,+0000001000,Paine alba"), std::string::npos);
    EXPECT_EQ(four.PendingTran().size(), 3u);
}

TEST_P(ArticleRequest, AnArticleFileThatFailsToLoadLeavesRequestsUnansweredUntilCorrected) {
    auto& reg = AddRegister();
    RewriteArticles({kPaineArticle, "0000000000123,01,1,9,3,Paine dublura"});
    for (int request = 0; request < 2; ++request) {
        auto result = Request(reg, ArticleRequestBody("123"));
        EXPECT_TRUE(result.acked);
        EXPECT_EQ(ReplyText(result), "<no reply>");
    }
    EXPECT_TRUE(reg.PendingTran().empty());

    RewriteArticles({"0000000000123,01,1,3,3,Paine"});
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))), ";PAINE;3;100.000;1;1;1;;;");
    EXPECT_EQ(reg.PendingTran().size(), 1u);
}

TEST_P(ArticleRequest, PointsWhateverTheRegionalSeparator) {
    test::RegionalSeparatorScope comma(',');
    WriteArticles({kPaineArticle, "0000000000200,01,1,12.34,3,Cafea"});
    auto& reg = AddRegister();
    auto result = Request(reg, ArticleRequestBody("123"));
    auto cafeaResult = Request(reg, ArticleRequestBody("200"));
    Request(reg, DiscountBody("12.34", "-10.00"));
    EXPECT_EQ(ReplyText(result), ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_EQ(ReplyText(cafeaResult), ";CAFEA;12.34;100.000;1;1;1;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], PainePendingLine(3));
    EXPECT_NE(lines[1].find(",00001234,3,+0000001000,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(",9999999999999,  -1.234,3,-0000001000,"), std::string::npos)
        << lines[2];
}

TEST_P(ArticleRequest, NameDepartmentAndVatForms) {
    WriteArticles({"0000000000301,12,3,1.5,3,  APA MINERALA NATURALA PLATA 2L",
                   "0000000000302,7,2,1,3,Un dept", "0000000000303,,1,1,3,Fara dept"});
    auto& reg = AddRegister();
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("301"))),
              ";APA MINERALA NATURAL;1.5;100.000;2;1;3;;;");
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("302", "0.500"))),
              ";UN DEPT;1;100.000;7;1;2;;;");
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("303"))), ";FARA DEPT;1;100.000;0;1;1;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0003,OP,NRBN,0000000000301,00000015,3,+0000001000,APA MINERALA NATURAL" +
                            std::string(20, ' ') + ",12,3,NRZZZ,06/12/26,21:50");
    EXPECT_NE(lines[1].find(",+0000000500,Un dept" + std::string(33, ' ') + ",07,2,"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(",00,1,NRZZZ"), std::string::npos) << lines[2];
}

TEST_P(ArticleRequest, ABadNumberEndsThatMessageOnlyAndTheRegisterIsStillServed) {
    WriteArticles({kPaineArticle, "2412345000000,01,2,10,3,Branza", "0000000000400,01,1,5,,Fara"});
    auto& reg = AddRegister();
    // A weighed request with a quantity that is no number: no reply, nothing recorded.
    auto result = Request(reg, ArticleRequestBody("2412345012340", "abc"));
    EXPECT_TRUE(result.acked);
    EXPECT_FALSE(result.response);
    // An article without a Comma cannot be priced.
    result = Request(reg, ArticleRequestBody("400"));
    EXPECT_FALSE(result.response);
    // A sale confirmed with a quantity that is no number records no line.
    result = Request(reg, ArticleRequestBody("123", "x"));
    EXPECT_EQ(ReplyText(result), ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_TRUE(reg.PendingTran().empty());
    // The worker goes on.
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))), ";PAINE;2.5;100.000;1;1;1;;;");
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    EXPECT_TRUE(reg.worker->Running());
}

TEST_P(ArticleRequest, HugeWeighedQuantityIsRefusedNotWrapped) {
    WriteArticles({"2412345000000,01,2,10,3,Branza"});
    auto& reg = AddRegister();
    // 99999 x 99999999999999999 overflows 64 bits: refused, not wrapped to a wrong quantity.
    auto result = Request(reg, ArticleRequestBody("2412345999990", "99999999999999.999"));
    EXPECT_FALSE(result.response);
    // 99999 g x 100000 units: beyond 32 bits, exact in 64.
    result = Request(reg, ArticleRequestBody("2412345999990", "100000.000"));
    EXPECT_EQ(ReplyText(result), ";BRANZA;99999000;100.000;1;1;2;;;");
    auto lines = reg.PendingTran();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(",+9999900000,"), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Lines, ArticleRequest, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
