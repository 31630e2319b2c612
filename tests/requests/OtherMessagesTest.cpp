#include <gtest/gtest.h>

#include "RequestFixture.h"

namespace tallyport::testing {
namespace {

using sim::PcKind;

std::string ReplyText(const sim::ExchangeResult& result) {
    if (!result.response || result.response->kind != PcKind::Reply) {
        return "<no reply>";
    }
    return result.response->text;
}

class OtherMessages : public InEveryLineMode<> {
protected:
    // Card replies are not confirmed by the register.
    SimulatedRegister& AddCardRegister(RegisterOptions options = {}) {
        options.confirmation.enabled = false;
        return AddRegister(options);
    }
};

TEST(RequestHandlerTable, EveryTypeHasItsHandler) {
    SettableClock clock(kTestTime);
    RequestContext context(clock);
    auto table = MakeRequestHandlers(context);
    const std::string handled = "01234789BF";
    const std::string inTurn = "17";  // they answer the register and wait for its confirmation
    for (int c = 0; c < 256; ++c) {
        const HandlerEntry& entry = (*table)[static_cast<std::size_t>(c)];
        bool expected = handled.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(static_cast<bool>(entry.Run), expected) << "type " << c;
        EXPECT_EQ(entry.Turn == HandlerTurn::InTurn,
                  inTurn.find(static_cast<char>(c)) != std::string::npos)
            << "type " << c;
    }
}

TEST_P(OtherMessages, CardLimitsAreInclusive) {
    auto& reg = AddCardRegister();
    const std::vector<std::pair<std::string, bool>> amounts = {
        {"0", true},      {"100000000", true},     {"100000000.00", true}, {"12.5", true},
        {"-0.01", false}, {"100000000.01", false}, {"1e9", false}};
    for (const auto& [amount, accepted] : amounts) {
        auto result = Request(reg, CardBody("4111", amount));
        ASSERT_TRUE(result.response) << amount;
        EXPECT_EQ(result.response->bytes,
                  sim::ExpectedReply(accepted ? "PLATA CARD;;;;;" : ".;;;;;"))
            << amount;
        EXPECT_EQ(reg.Field(&RequestFields::CardReference), accepted ? "4111" : "") << amount;
    }
    // Type 9 is the same check.
    EXPECT_EQ(ReplyText(Request(reg, CardBody("77", "5", '9'))), "PLATA CARD;;;;;");
    EXPECT_EQ(reg.Field(&RequestFields::CardReference), "77");
}

TEST_P(OtherMessages, ConfiguredLimitsAreInclusiveToo) {
    RegisterOptions options;
    options.cardMin = 10;
    options.cardMax = 20.5;
    auto& reg = AddCardRegister(options);
    EXPECT_EQ(ReplyText(Request(reg, CardBody("1", "10"))), "PLATA CARD;;;;;");
    EXPECT_EQ(ReplyText(Request(reg, CardBody("1", "20.5"))), "PLATA CARD;;;;;");
    EXPECT_EQ(ReplyText(Request(reg, CardBody("1", "9.99"))), ".;;;;;");
    EXPECT_EQ(ReplyText(Request(reg, CardBody("1", "20.51"))), ".;;;;;");
}

TEST_P(OtherMessages, CardReferenceReachesTheClosingLineUntilARefusal) {
    auto& reg = AddCardRegister();
    Request(reg, ArticleRequestBody("123"));
    Request(reg, CardBody("4111222", "2.5"));
    Request(reg, ClosingBody("1", "1", "42", "12", "2.5", "2.5"));
    Request(reg, ClosingBody("1", "1", "43", "12", "2.5", "2.5"));  // not reset by a closing
    Request(reg, CardBody("999", "-1"));
    Request(reg, ClosingBody("1", "1", "44", "12", "2.5", "2.5"));
    auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 3u);
    EXPECT_EQ(bon[0],
              "0003,01,0042,1,0,0000000250,0000000250,3,0000004111222,21:50,06/12/26,00012");
    EXPECT_NE(bon[1].find(",0000004111222,"), std::string::npos);
    EXPECT_NE(bon[2].find(",0000000000000,"), std::string::npos) << bon[2];
}

TEST_P(OtherMessages, CardAmountThatIsNoNumberIsNotAnswered) {
    auto& reg = AddCardRegister();
    auto result = Request(reg, CardBody("55", "12,5"));
    EXPECT_TRUE(result.acked);
    EXPECT_FALSE(result.response);
    EXPECT_EQ(reg.Field(&RequestFields::CardReference), "55");
    EXPECT_EQ(ReplyText(Request(reg, CardBody("56", "12.5"))), "PLATA CARD;;;;;");
}

TEST_P(OtherMessages, VoidRemovesTheLastLines) {
    WriteArticles({kPaineArticle, "0000000000124,02,2,4,3,Lapte", "0000000000125,02,2,9.99,3,Unt"});
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    Request(reg, ArticleRequestBody("124"));
    Request(reg, ArticleRequestBody("125"));
    Request(reg, "S1;X;B");
    Request(reg, "S1;X;B");
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    Request(reg, "S1;X;F");
    EXPECT_TRUE(reg.PendingTran().empty());
    auto result = Request(reg, "S1;X;B");  // nothing left: ignored
    EXPECT_TRUE(result.acked);
    EXPECT_FALSE(result.response);
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(reg.worker->Running());
}

TEST_P(OtherMessages, LowerCaseAndOtherTypesChangeNothing) {
    auto& reg = AddRegister();
    Request(reg, ArticleRequestBody("123"));
    for (const std::string body : {"S1;X;b", "S1;X;f", "S1;X;0", "S1;X;4", "S1;X;5", "S1;X;",
                                   "S1;X;a;123;;1.000", "S1;X;Bx"}) {
        auto result = Request(reg, body);
        EXPECT_TRUE(result.acked) << body;
        EXPECT_FALSE(result.response) << body;
    }
    // "Bx" starts with B: a void.
    EXPECT_TRUE(reg.PendingTran().empty());
    Request(reg, ArticleRequestBody("123"));
    for (const std::string body : {"S1;X;b", "S1;X;f", "S1;X;0", "S1;X;4", "S1;X;5"}) {
        Request(reg, body);
    }
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
}

INSTANTIATE_TEST_SUITE_P(Lines, OtherMessages, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
