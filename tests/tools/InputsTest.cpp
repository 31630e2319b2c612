// What the tool reads: the article file, the program's configuration, its own command line;
// and the simulator's additions it relies on (the two-limit exchange, the poll gaps), driven
// from the PC end with plain POSIX calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/ShopOptions.h"
#include "ecrsim/ShopSettings.h"
#include "simulator/EcrProtocol.h"
#include "simulator/EcrSimulator.h"
#include "support/TempFolder.h"

namespace tallyport::ecrsim {
namespace {

using namespace std::chrono_literals;

TEST(ArticleFileReader, ColumnsEscapesAndWidths) {
    const ArticleFile file = ArticleFile::FromText(
        "0000000000010,02,1,4.75,3,LAPTE 1.5%% 1L\r\n"
        "12345678901234,123,2, 12.5 ,2,%cA%nB%0ignored\n"
        "\r\n"
        "2400001000000,10,1,29.9,3,An article name that is longer than forty characters\r\n",
        "PLU.txt");
    ASSERT_EQ(file.Articles().size(), 3u);
    const Article& milk = file.Articles()[0];
    EXPECT_EQ(milk.code, "0000000000010");
    EXPECT_EQ(milk.dept, "02");
    EXPECT_EQ(milk.vatGroup, 1);
    EXPECT_DOUBLE_EQ(milk.price, 4.75);
    EXPECT_EQ(milk.comma, 3);
    EXPECT_EQ(milk.name, "LAPTE 1.5% 1L");
    const Article& odd = file.Articles()[1];
    EXPECT_EQ(odd.code, "1234567890123");  // cut to 13
    EXPECT_EQ(odd.dept, "12");             // cut to 2
    EXPECT_DOUBLE_EQ(odd.price, 12.5);
    EXPECT_EQ(odd.name, "\rA\nB");  // escapes undone, cut at the NUL
    EXPECT_EQ(file.Articles()[2].name, "An article name that is longer than fort");
    EXPECT_NE(file.Find("0000000000010"), nullptr);
    EXPECT_EQ(file.Find("10"), nullptr);  // found only as stored
    EXPECT_EQ(EscapeTableText("50% a\r\nb"), "50%% a%c%nb");
    EXPECT_EQ(UnescapeTableText(EscapeTableText("50% a\r\nb")), "50% a\r\nb");
}

TEST(ArticleFileReader, BadFilesAreRefusedWithTheLine) {
    auto error = [](const std::string& text) {
        try {
            ArticleFile::FromText(text, "PLU.txt");
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(error("1,01,1,2.5,3,A\r\n1,01,1,x,3,B\r\n"),
              "PLU.txt line 2: VATGroup, Price and Comma must be numbers");
    EXPECT_EQ(error("1,01,1,2.5,3,A,B\r\n"), "PLU.txt line 1: 6 values expected, found 7");
    EXPECT_EQ(error("1,01,1,2.5,3,A\r\n1,02,1,2.5,3,B\r\n"),
              "PLU.txt line 2: the code 1 appears twice");
    EXPECT_THROW(ArticleFile::Load("/nonexistent/PLU.txt"), std::runtime_error);
}

TEST(ConfigurationReader, KeysAsTheProgramReadsThem) {
    test::TempFolder folder;
    const std::string path = folder.File("Tallyport.ini");
    test::WriteFile(path,
                    "[files]\r\n"
                    "  plu = articole.txt \r\n"
                    "ReceiptMaster=C:\\BO\\Bon.txt\r\n"
                    "[CardOptions]\r\nMin=0,5\r\nMax=abc\r\n"
                    "[SCALE]\r\nPrefix=0x1A\r\n"
                    "[Options]\r\nRecDiscount=0\r\nRecAmount=yes\r\n"
                    "RecSepFiles=2\r\nRecDecimals=$1\r\n");
    ShopSettings s;
    ASSERT_TRUE(ReadConfigFile(path, s));
    EXPECT_EQ(s.pluFile, "articole.txt");
    EXPECT_EQ(s.receiptMaster, "C:\\BO\\Bon.txt");
    EXPECT_EQ(s.receiptDetail, "Tran.txt");  // missing: the default
    EXPECT_DOUBLE_EQ(s.cardMin, 0.5);
    EXPECT_DOUBLE_EQ(s.cardMax, 100000000);  // not a number: the default
    EXPECT_EQ(s.scalePrefix, 26);
    EXPECT_FALSE(s.recDiscount);
    EXPECT_TRUE(s.recAmount);  // "yes" is no integer: the default
    EXPECT_TRUE(s.recSepFiles);
    EXPECT_TRUE(s.recDecimals);
    EXPECT_FALSE(ReadConfigFile("/nonexistent/Tallyport.ini", s));
}

TEST(CommandLine, OptionsAndSettings) {
    std::string error;
    bool help = false;
    auto o = ParseShopOptions({"--registers", "5", "--seed=42", "--finish-receipts", "--verify",
                               "--dir", "/srv/shop", "--rec-amount", "off", "--bon", "b.txt"},
                              error, help);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->registers, 5);
    EXPECT_EQ(o->seed, 42u);
    EXPECT_TRUE(o->seedGiven);
    EXPECT_TRUE(o->finishReceipts);
    EXPECT_TRUE(o->verify);
    const ShopSettings s = ResolveSettings(*o);
    EXPECT_EQ(s.pluFile, "/srv/shop/PLU.txt");  // the program's name, in its folder
    EXPECT_EQ(s.receiptMaster, "b.txt");        // the user's name, as given
    EXPECT_EQ(s.receiptDetail, "/srv/shop/Tran.txt");
    EXPECT_EQ(s.ecrList, "/srv/shop/ECRs.dat");
    EXPECT_FALSE(s.recAmount);

    EXPECT_FALSE(ParseShopOptions({"--registers", "0"}, error, help).has_value());
    EXPECT_NE(error.find("--registers"), std::string::npos);
    EXPECT_FALSE(ParseShopOptions({"--seconds"}, error, help).has_value());
    EXPECT_EQ(error, "--seconds needs a value S");
    EXPECT_FALSE(ParseShopOptions({"--verify=1"}, error, help).has_value());
    EXPECT_FALSE(ParseShopOptions({"--sep-files", "maybe"}, error, help).has_value());
    EXPECT_FALSE(ParseShopOptions({"--frobnicate"}, error, help).has_value());
    EXPECT_EQ(error, "unknown option --frobnicate (see --help)");
    ParseShopOptions({"--help"}, error, help);
    EXPECT_TRUE(help);

    // The line rate: 9600 unless given; a standard rate or 0 (no line time, listed at 9600).
    EXPECT_EQ(ParseShopOptions({}, error, help)->rate, 9600);
    EXPECT_EQ(ParseShopOptions({"--rate", "2400"}, error, help)->rate, 2400);
    EXPECT_EQ(ParseShopOptions({"--rate=38400"}, error, help)->rate, 38400);
    EXPECT_EQ(ParseShopOptions({"--rate", "0"}, error, help)->rate, 0);
    EXPECT_FALSE(ParseShopOptions({"--rate", "9601"}, error, help).has_value());
    EXPECT_NE(error.find("not a line rate"), std::string::npos) << error;
    EXPECT_FALSE(ParseShopOptions({"--rate", "fast"}, error, help).has_value());
    EXPECT_EQ(ListedRate(0), 9600);

    // Real serial ports: one register each, and the program's own register list.
    o = ParseShopOptions({"--devices", "/dev/ttyUSB1,/dev/ttyUSB2", "--rate", "4800"}, error, help);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->devices, (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(o->registers, 2);
    EXPECT_FALSE(o->writeEcrList);
    EXPECT_FALSE(ParseShopOptions({"--devices", "/dev/ttyUSB1,"}, error, help).has_value());
    EXPECT_FALSE(ParseShopOptions({"--devices", "/dev/ttyUSB1", "--rate", "0"}, error, help));
    EXPECT_NE(error.find("needs a rate"), std::string::npos) << error;
    EXPECT_EQ(ListedRate(4800), 4800);

    // Every option is explained, and no help line runs past the width.
    const std::string text = ShopHelpText();
    for (const char* name :
         {"--registers", "--config", "--seed", "--seconds", "--pace", "--finish-receipts",
          "--verify", "--status-file", "--gap", "--rate", "--devices"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        EXPECT_LE(end - start, 92u) << text.substr(start, end - start);
        start = end + 1;
    }
}

// The PC's end of a simulated line, bare.
class PcEnd {
public:
    explicit PcEnd(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~PcEnd() { close(fd_); }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

private:
    int fd_;
};

TEST(SimulatorAdditions, ExchangeWaitsForThePollThenForTheAnswer) {
    sim::EcrSimulator register4(4);
    PcEnd pc(register4.SlavePath());

    // Nobody polls: the answer is withdrawn after the poll limit, whatever the response limit.
    const auto before = sim::Clock::now();
    sim::ExchangeResult r = register4.Exchange(sim::Answer::Frame("S;1;0"), 200ms, 5s);
    EXPECT_FALSE(r.sent);
    EXPECT_LT(sim::Clock::now() - before, 3s);
    EXPECT_EQ(register4.QueuedAnswers(), 0u);

    // A late poll (after 300 ms) still takes the answer when the poll limit allows it, and the
    // response limit counts from that poll: a slow padded acknowledgement is still waited for.
    std::thread pcSide([&] {
        std::this_thread::sleep_for(300ms);
        pc.Write(sim::ExpectedPoll(4));
        std::this_thread::sleep_for(400ms);
        pc.Write("\x06");
        pc.Write(sim::ExpectedPaddedAck());
    });
    r = register4.Exchange(sim::Answer::Frame("S;1;3"), 2s, 1s);
    pcSide.join();
    EXPECT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, sim::PcKind::PaddedAck);
}

TEST(SimulatorAdditions, LongestPollGap) {
    sim::EcrSimulator register2(2);
    PcEnd pc(register2.SlavePath());
    const auto start = sim::Clock::now();
    for (int i = 0; i < 3; ++i) {
        pc.Write(sim::ExpectedPoll(2));
        pc.Write(sim::ExpectedPoll(5));  // another register's polls do not count
        std::this_thread::sleep_for(i == 1 ? 400ms : 50ms);
    }
    ASSERT_TRUE(register2.WaitForPolls(3, 2s));
    const auto end = sim::Clock::now();
    const auto gap = register2.LongestPollGap(start, end);
    EXPECT_GE(gap, 390ms);
    EXPECT_LT(gap, 2s);
    // After the last poll nothing came: the open end counts.
    std::this_thread::sleep_for(600ms);
    EXPECT_GE(register2.LongestPollGap(end, sim::Clock::now()), 590ms);
    // A window without any poll is one gap.
    EXPECT_GE(register2.LongestPollGap(start - 1s, start), 1s);
}

}  // namespace
}  // namespace tallyport::ecrsim
