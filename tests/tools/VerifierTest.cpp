// The check of the back-office files: every kind of difference a faulty program could leave
// (a line missing, doubled, out of order, wrong, not expected, without its line end) must be
// found and named, and a file that holds exactly what was expected must pass.
#include <gtest/gtest.h>

#include "ecrsim/Journal.h"
#include "ecrsim/Verifier.h"
#include "support/TempFolder.h"

namespace tallyport::ecrsim {
namespace {

using test::TempFolder;
using test::WriteFile;

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += l + "\r\n";
    }
    return text;
}

// A closing line of register `reg`, receipt `receipt`, at 10:0<minute>.
std::string Bon(int reg, int receipt, int minute = 0) {
    return "000" + std::to_string(reg) + ",01," + std::to_string(1000 + receipt) +
           ",0,1,0000000250,0000000500,3,0000000000000,10:0" + std::to_string(minute) +
           ",06/12/26,00012";
}

// Expects the line with the time 10:00 or 10:01 (the program reads its own clock).
ExpectedLine BonExpected(int reg, int receipt) {
    ExpectedLine e(ExpectedLine::Record::Bon);
    e.Fields("000" + std::to_string(reg) + ",01," + std::to_string(1000 + receipt) +
             ",0,1,0000000250,0000000500,3,0000000000000");
    e.FieldOneOf({"10:00", "10:01"}).Field("06/12/26").Field("00012");
    e.Origin("receipt " + std::to_string(1000 + receipt));
    return e;
}

struct Fixture {
    TempFolder folder;
    OutputExpectation expectation;

    Fixture() {
        expectation.path = folder.File("Bon.txt");
        for (int receipt = 1; receipt <= 4; ++receipt) {
            expectation.byRegister[1].push_back(BonExpected(1, receipt));
            expectation.byRegister[2].push_back(BonExpected(2, receipt));
        }
    }
    // The file as a correct program writes it: the two registers interleaved.
    std::vector<std::string> Good() const {
        std::vector<std::string> lines;
        for (int receipt = 1; receipt <= 4; ++receipt) {
            lines.push_back(Bon(1, receipt, receipt % 2));
            lines.push_back(Bon(2, receipt));
        }
        return lines;
    }
    VerifyResult Check(const std::vector<std::string>& lines) {
        WriteFile(expectation.path, Lines(lines));
        return VerifyOutput(expectation);
    }
};

std::string Joined(const VerifyResult& r) {
    std::string text;
    for (const std::string& d : r.differences) {
        text += d + "\n";
    }
    return text;
}

TEST(Verifier, ExactFilePasses) {
    Fixture f;
    const VerifyResult r = f.Check(f.Good());
    EXPECT_TRUE(r.ok) << Joined(r);
    EXPECT_EQ(r.expected, 8u);
    EXPECT_EQ(r.found, 8u);
    EXPECT_EQ(r.matched, 8u);

    // Registers may interleave in any way; each register's order is what counts.
    std::vector<std::string> lines = f.Good();
    std::stable_partition(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("0002", 0) == 0; });
    EXPECT_TRUE(f.Check(lines).ok);
}

TEST(Verifier, MissingLine) {
    Fixture f;
    std::vector<std::string> lines = f.Good();
    lines.erase(lines.begin() + 2);  // register 1, receipt 2
    const VerifyResult r = f.Check(lines);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(r.differences.size(), 1u) << Joined(r);
    EXPECT_NE(r.differences[0].find("register 1: line missing (receipt 1002)"), std::string::npos)
        << Joined(r);
}

TEST(Verifier, DoubledLine) {
    Fixture f;
    std::vector<std::string> lines = f.Good();
    lines.insert(lines.begin() + 4, lines[3]);  // register 2, receipt 2 twice
    const VerifyResult r = f.Check(lines);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(r.differences.size(), 1u) << Joined(r);
    EXPECT_NE(r.differences[0].find("register 2: line doubled, line 5: " + Bon(2, 2)),
              std::string::npos)
        << Joined(r);
}

TEST(Verifier, ReorderedLines) {
    Fixture f;
    std::vector<std::string> lines = f.Good();
    std::swap(lines[2], lines[4]);  // register 1: receipts 3 before 2
    const VerifyResult r = f.Check(lines);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(r.differences.size(), 1u) << Joined(r);
    EXPECT_NE(r.differences[0].find("register 1: line out of order"), std::string::npos)
        << Joined(r);
}

TEST(Verifier, WrongFieldsAreNamed) {
    Fixture f;
    std::vector<std::string> lines = f.Good();
    lines[5] = Bon(2, 3);
    lines[5].replace(lines[5].find(",0,1,"), 5, ",3,1,");  // payment type
    lines[6] = Bon(1, 4, 7);                               // a time far from the closing
    const VerifyResult r = f.Check(lines);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(r.differences.size(), 2u) << Joined(r);
    const std::string all = Joined(r);
    EXPECT_NE(all.find("register 2: line wrong (receipt 1003) in payment type"), std::string::npos)
        << all;
    EXPECT_NE(all.find("register 1: line wrong (receipt 1004) in time"), std::string::npos) << all;
    EXPECT_NE(all.find("expected: 0001,01,1004,0,1,0000000250,0000000500,3,0000000000000,"
                       "{10:00|10:01},06/12/26,00012"),
              std::string::npos)
        << all;
}

TEST(Verifier, LinesNotExpected) {
    Fixture f;
    std::vector<std::string> lines = f.Good();
    lines.push_back(Bon(1, 9));  // a receipt the simulator never saw closed
    lines.push_back(Bon(7, 1));  // a register that is not part of the run
    lines.push_back("garbage");
    const VerifyResult r = f.Check(lines);
    ASSERT_FALSE(r.ok);
    const std::string all = Joined(r);
    EXPECT_EQ(r.differences.size(), 3u) << all;
    EXPECT_NE(all.find("register 1: line not expected, line 9: " + Bon(1, 9)), std::string::npos)
        << all;
    EXPECT_NE(all.find("line 10 is not from a register of this run"), std::string::npos) << all;
    EXPECT_NE(all.find("line 11 is not from a register of this run: garbage"), std::string::npos)
        << all;
}

TEST(Verifier, LineEnds) {
    Fixture f;
    std::string text = Lines(f.Good());
    // The third line ends with LF alone; the file ends with half a line.
    const auto third = text.find("\r\n", text.find("\r\n", text.find("\r\n") + 2) + 2);
    text.erase(third, 1);
    text += "0001,01";
    WriteFile(f.expectation.path, text);
    const VerifyResult r = VerifyOutput(f.expectation);
    ASSERT_FALSE(r.ok);
    const std::string all = Joined(r);
    EXPECT_NE(all.find("line 3 ends without CR"), std::string::npos) << all;
    EXPECT_NE(all.find("the last line has no line end: 0001,01"), std::string::npos) << all;
}

TEST(Verifier, OnlyTheLinesAppendedDuringTheRunCount) {
    Fixture f;
    const std::string before = Lines({Bon(1, 7), Bon(3, 1)});  // an earlier day's lines
    WriteFile(f.expectation.path, before + Lines(f.Good()));
    f.expectation.startOffset = before.size();
    VerifyResult r = VerifyOutput(f.expectation);
    EXPECT_TRUE(r.ok) << Joined(r);
    EXPECT_EQ(r.found, 8u);

    // A file cut below its size at the start is reported, not read from a wrong place.
    WriteFile(f.expectation.path, "x\r\n");
    r = VerifyOutput(f.expectation);
    ASSERT_FALSE(r.ok);
    EXPECT_NE(Joined(r).find("shorter than when the run began"), std::string::npos);
}

TEST(Verifier, MissingFile) {
    Fixture f;
    VerifyResult r = VerifyOutput(f.expectation);
    ASSERT_FALSE(r.ok);
    EXPECT_NE(Joined(r).find("does not exist"), std::string::npos);

    // Nothing expected and no file: fine.
    OutputExpectation none;
    none.path = f.folder.File("Tran.txt");
    none.byRegister[1];
    EXPECT_TRUE(VerifyOutput(none).ok);
}

TEST(Verifier, OptionalLinesMayBeMissingButNotWrong) {
    Fixture f;
    // Register 1's second and third receipts were sold before a possible restart.
    f.expectation.byRegister[1][1].Optional();
    f.expectation.byRegister[1][2].Optional();
    std::vector<std::string> lines = f.Good();
    lines.erase(lines.begin() + 2);  // receipt 2 lost, receipt 3 written
    VerifyResult r = f.Check(lines);
    EXPECT_TRUE(r.ok) << Joined(r);
    EXPECT_EQ(r.optionalMissing, 1u);
    EXPECT_EQ(r.expected, 6u);

    // The same line twice: the optional one and a required one that looks the same. Only an
    // alignment that skips the optional line passes.
    Fixture g;
    g.expectation.byRegister[1] = {BonExpected(1, 1).Optional(), BonExpected(1, 1),
                                   BonExpected(1, 2)};
    g.expectation.byRegister[2].clear();
    r = g.Check({Bon(1, 1), Bon(1, 2)});
    EXPECT_TRUE(r.ok) << Joined(r);
    r = g.Check({Bon(1, 1), Bon(1, 1), Bon(1, 2)});
    EXPECT_TRUE(r.ok) << Joined(r);
    r = g.Check({Bon(1, 2)});
    EXPECT_FALSE(r.ok);
}

// The last-closing rule: with RecAmount off the program writes 0 as the first amount of a
// closing whose register, operator and receipt equal those of the closing it handled just
// before, whichever register that came from.
TEST(Verifier, FirstAmountFollowsTheOrderOfClosings) {
    const auto t0 = SteadyClock::now();
    auto closing = [t0](int startMs, int endMs, const std::string& key) {
        ClosingRecord c;
        c.span.steadyFrom = t0 + std::chrono::milliseconds(startMs);
        c.span.steadyTo = t0 + std::chrono::milliseconds(endMs);
        c.key = key;
        c.fields.amount1 = "1234";
        c.amount1Zero = "0";
        return c;
    };
    OutputLayout layout;
    layout.recAmount = false;
    layout.handlingSlack = std::chrono::milliseconds(100);

    // Two closings of one receipt in a row: the second carries 0; the first, right after the
    // start, may follow anything the program held before.
    std::vector<ClosingRecord> closings = {closing(1000, 1050, "0001,01,0042"),
                                           closing(2000, 2050, "0001,01,0042"),
                                           closing(3000, 3050, "0002,01,0042")};
    auto choices = FirstAmountChoices(closings, {}, layout, t0);
    EXPECT_EQ(choices[0], (std::vector<std::string>{"1234", "0"}));
    EXPECT_EQ(choices[1], (std::vector<std::string>{"0"}));
    EXPECT_EQ(choices[2], (std::vector<std::string>{"1234"}));

    // Another register's closing in between: the second keeps its amount.
    closings.insert(closings.begin() + 1, closing(1500, 1550, "0002,03,0007"));
    choices = FirstAmountChoices(closings, {}, layout, t0);
    EXPECT_EQ(choices[2], (std::vector<std::string>{"1234"}));

    // ... unless the two may have been handled in either order.
    closings[1] = closing(1990, 2040, "0002,03,0007");
    choices = FirstAmountChoices(closings, {}, layout, t0);
    EXPECT_EQ(choices[2], (std::vector<std::string>{"1234", "0"}));

    // A restart between them empties the program's key.
    closings.erase(closings.begin() + 1);
    Span restart;
    restart.steadyFrom = t0 + std::chrono::milliseconds(1400);
    restart.steadyTo = t0 + std::chrono::milliseconds(1600);
    choices = FirstAmountChoices(closings, {restart}, layout, t0);
    EXPECT_EQ(choices[1], (std::vector<std::string>{"1234"}));

    // With RecAmount on every closing keeps its amount.
    layout.recAmount = true;
    choices = FirstAmountChoices(closings, {}, layout, t0);
    EXPECT_EQ(choices[1], (std::vector<std::string>{"1234"}));
}

}  // namespace
}  // namespace tallyport::ecrsim
