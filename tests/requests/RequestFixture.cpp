#include "RequestFixture.h"

#include <filesystem>

#include "requests/Journalling.h"
#include "serial/LineTime.h"

namespace tallyport::testing {

std::string ArticleRequestBody(const std::string& code, const std::string& quantity,
                               const std::string& fiscal, char type) {
    return fiscal + ";X;" + type + ";" + code + ";;" + quantity;
}

std::string DiscountBody(const std::string& value, const std::string& rate) {
    return "S1;X;2;;" + value + ";" + rate;
}

std::string ClosingBody(const std::string& paymentType, const std::string& operatorNo,
                        const std::string& receiptNo, const std::string& zReportNo,
                        const std::string& amount1, const std::string& amount2) {
    // Fields 1..20; 6-8 and 12-19 unused.
    return "S1;X;3;" + paymentType + ";" + operatorNo + ";;;;" + receiptNo + ";" + zReportNo + ";" +
           amount1 + ";;;;;;;;;" + amount2;
}

std::string CardBody(const std::string& reference, const std::string& amount, char type) {
    return std::string("S1;X;") + type + ";" + reference + ";" + amount + ";0";
}

std::string LineModeName(const ::testing::TestParamInfo<LineMode>& info) {
    return info.param == LineMode::Parallel ? "Parallel" : "Serial";
}

std::ostream& operator<<(std::ostream& out, LineMode mode) {
    return out << (mode == LineMode::Parallel ? "parallel lines" : "serial lines");
}

const std::string kPaineArticle = "0000000000123,01,1,2.5,3,Paine";

std::string PainePendingLine(int logicalNb) {
    std::string number = std::to_string(logicalNb);
    return std::string(4 - number.size(), '0') + number +
           ",OP,NRBN,0000000000123,00000025,3,+0000001000,Paine" + std::string(35, ' ') +
           ",01,1,NRZZZ,06/12/26,21:50";
}

RequestTest::RequestTest() {
    WriteArticles({kPaineArticle});
}

RequestTest::~RequestTest() {
    registers_.clear();
}

void RequestTest::WriteArticles(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    WriteFile(PluPath(), bytes);
    holder_.reset();
    holder_ = std::make_unique<TPluH>(PluPath(), reloadTimes_, afterEachRead_);
}

void RequestTest::RewriteArticles(const std::vector<std::string>& lines, bool waitForLoad) {
    auto loaded = std::filesystem::last_write_time(PluPath());
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    WriteFile(PluPath(), bytes);
    std::filesystem::last_write_time(PluPath(), loaded + 10s);
    if (waitForLoad) {
        EXPECT_TRUE(holder_->WaitUntilSettled(10s));
    }
}

std::shared_ptr<test::DrainingQueueState> AdapterQueue(std::chrono::milliseconds hold) {
    PortSettings line;
    line.BaudRate = 9600;
    line.ByteSize = 8;
    auto queue = std::make_shared<test::DrainingQueueState>(CharacterTime(line));
    queue->SetHold(hold);
    return queue;
}

SimulatedRegister& RequestTest::AddRegister(RegisterOptions options) {
    auto reg = std::make_unique<SimulatedRegister>();
    sim::EcrSimulator::Options simOptions;
    simOptions.logicalNb = options.logicalNb;
    simOptions.confirmation = options.confirmation;
    simOptions.line = options.line;
    simOptions.linkPath = options.linkPath;
    simOptions.plugged = options.plugged;
    reg->sim = std::make_unique<sim::EcrSimulator>(simOptions);
    LinkOptions linkOptions;
    linkOptions.PluHolder = holder_.get();
    linkOptions.ReceiptMasterFile = options.bonFile.empty() ? BonPath() : options.bonFile;
    linkOptions.ReceiptDetailFile = options.tranFile.empty() ? TranPath() : options.tranFile;
    linkOptions.CardMin = options.cardMin;
    linkOptions.CardMax = options.cardMax;
    linkOptions.RecDiscount = options.recDiscount;
    linkOptions.RecAmount = options.recAmount;
    linkOptions.RecDecimals = options.recDecimals;
    linkOptions.ScalePrefix = options.scalePrefix;
    linkOptions.ParallelLines = lineMode_ == LineMode::Parallel;
    reg->worker = std::make_unique<TSerialThread>(ThreadPriority::Normal, linkOptions, notices_);
    TSerialExtended& link = reg->worker->Link();
    link.CommPort = reg->sim->PortName();
    link.LogicalNb = options.logicalNb;
    link.Fiscal = options.fiscal;
    link.TranRate = options.line.Timed() ? options.line.baud : 9600;
    if (context_.Journal() != nullptr) {
        reg->fields = context_.FieldsOf(options.logicalNb);  // where the journal restores them
    }
    link.SetHandlers(MakeRequestHandlers(context_, reg->fields));
    WaitForJournalBeforeEachPoll(link, context_);
    if (options.drainingQueue) {
        link.Port.SetLineStatusProbe(std::make_unique<test::DrainingQueue>(options.drainingQueue));
    }
    if (options.lineStatus) {
        link.Port.SetLineStatusProbe(std::make_unique<test::FakeLineStatus>(options.lineStatus));
    }
    if (options.beforeStart) {
        options.beforeStart(link);
    }
    EXPECT_TRUE(reg->worker->StartLink()) << link.Port.LastErrorText();
    registers_.push_back(std::move(reg));
    return *registers_.back();
}

sim::ExchangeResult RequestTest::Request(SimulatedRegister& reg, const std::string& body) {
    return Request(reg, sim::Answer::Frame(body));
}

sim::ExchangeResult RequestTest::Request(SimulatedRegister& reg, sim::Answer answer) {
    sim::ExchangeResult result = reg.sim->Exchange(std::move(answer), 3s);
    EXPECT_TRUE(result.sent) << "the register was not polled";
    if (!result.nextPoll) {
        // The worker polls again only once the handler has returned.
        EXPECT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 3s));
    }
    return result;
}

}  // namespace tallyport::testing
