// The journal's writer: what it reports durable is read back after it is gone, records of many
// registers from many threads keep each register's order, a finished closing is compacted away,
// a torn last line is cut off, a damaged file is set aside and reported, and a file system that
// cannot take the records (read-only, full) holds them back until it can, with its reason for
// the register's status and one notice each way.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "JournalTestSupport.h"
#include "journal/FolderLock.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using testing::AsideFile;
using testing::DamagedInTheMiddle;
using testing::JournalWriter;
using testing::Lines;

TEST_F(JournalWriter, WhatIsReportedDurableIsReadBack) {
    {
        ReceiptJournal journal(Folder(), notices_);
        EXPECT_TRUE(journal.Load().registers.empty());
        // A register that has appended nothing waits for nothing.
        EXPECT_TRUE(journal.WaitDurable(9, 0, 0ms));
        journal.Append(3, {FieldsRecord({"01", "1", "3", ""}), SaleRecord("a")});
        const auto ticket = journal.Append(3, {SaleRecord("b"), VoidRecord(), SaleRecord("c")});
        journal.Append(12, {SaleRecord("x")});
        EXPECT_TRUE(journal.WaitDurable(3, ticket, 10s));
        EXPECT_FALSE(journal.Failing(3));
    }
    EXPECT_NE(ReadFile(Folder() + "/ECR3.txt").find("\ta\n"), std::string::npos);
    ReceiptJournal again(Folder(), notices_);
    const auto loaded = again.Load();
    EXPECT_EQ(Lines(loaded, 3), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(loaded.registers.at(3).fields.commaText, "3");
    EXPECT_EQ(Lines(loaded, 12), (std::vector<std::string>{"x"}));  // written at the end
    EXPECT_TRUE(loaded.problems.empty());
    EXPECT_TRUE(notices_.Notices().empty());
}

TEST_F(JournalWriter, ManyRegistersFromManyThreadsKeepEachRegistersOrder) {
    constexpr int kRegisters = 6;
    constexpr int kLines = 150;
    {
        ReceiptJournal journal(Folder(), notices_);
        journal.Load();
        std::vector<std::thread> workers;
        std::atomic<int> lateDurable{0};
        for (int reg = 1; reg <= kRegisters; ++reg) {
            workers.emplace_back([&journal, &lateDurable, reg] {
                for (int i = 0; i < kLines; ++i) {
                    const auto t = journal.Append(reg, {SaleRecord(std::to_string(i))});
                    if (!journal.WaitDurable(reg, t, 20s)) {
                        ++lateDurable;
                    }
                }
            });
        }
        for (auto& w : workers) {
            w.join();
        }
        EXPECT_EQ(lateDurable.load(), 0);
    }
    ReceiptJournal again(Folder(), notices_);
    const auto loaded = again.Load();
    for (int reg = 1; reg <= kRegisters; ++reg) {
        const auto lines = Lines(loaded, reg);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(kLines)) << reg;
        for (int i = 0; i < kLines; ++i) {
            EXPECT_EQ(lines[static_cast<std::size_t>(i)], std::to_string(i)) << reg;
        }
    }
}

OpenClosing Closing(std::uint64_t seq) {
    OpenClosing c;
    c.seq = seq;
    c.bonPath = "Bon.txt";
    c.tranPath = "Tran.txt";
    c.bonLines = {"bon line"};
    c.tranLines = {"a filled"};
    return c;
}

TEST_F(JournalWriter, AFinishedClosingIsCompactedAway) {
    {
        ReceiptJournal journal(Folder(), notices_);
        journal.Load();
        const auto seq = journal.NextClosingSeq();
        journal.Append(3, {SaleRecord("a")});
        journal.Append(3, {ClosingRecord(Closing(seq), std::string("0003,01,0042"), "frame")});
        journal.Append(3, {IntentRecord(seq, 0, 0), SeqRecord('B', seq)});
        journal.Append(3, {SeqRecord('D', seq)});
        const auto t = journal.Append(3, {SaleRecord("next")});
        ASSERT_TRUE(journal.WaitDurable(3, t, 10s));
    }
    const std::string bytes = ReadFile(Folder() + "/ECR3.txt");
    EXPECT_EQ(bytes.find(" C\t"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("bon line"), std::string::npos) << bytes;
    EXPECT_FALSE(std::filesystem::exists(Folder() + "/ECR3.txt.new"));
    ReceiptJournal again(Folder(), notices_);
    const auto loaded = again.Load();
    EXPECT_EQ(Lines(loaded, 3), (std::vector<std::string>{"next"}));
    EXPECT_EQ(loaded.lastClosingKey, "0003,01,0042");
    EXPECT_EQ(loaded.registers.at(3).lastClosingFrame, "frame");
    EXPECT_FALSE(loaded.registers.at(3).open);
    EXPECT_GT(again.NextClosingSeq(), 1u);  // numbers go on above the journal's
}

TEST_F(JournalWriter, ATornLastLineIsCutOffAndWritingGoesOn) {
    std::filesystem::create_directories(Folder());
    const std::string good = EncodeRecord(SaleRecord("a"));
    const std::string torn = EncodeRecord(SaleRecord("b")).substr(0, 7);
    WriteFile(Folder() + "/ECR5.txt", good + torn);
    {
        ReceiptJournal journal(Folder(), notices_);
        const auto loaded = journal.Load();
        EXPECT_EQ(Lines(loaded, 5), (std::vector<std::string>{"a"}));
        EXPECT_EQ(ReadFile(Folder() + "/ECR5.txt"), good);
        ASSERT_TRUE(journal.WaitDurable(5, journal.Append(5, {SaleRecord("c")}), 10s));
    }
    ReceiptJournal again(Folder(), notices_);
    EXPECT_EQ(Lines(again.Load(), 5), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(notices_.Notices().empty());
}

TEST_F(JournalWriter, ADamagedFileKeepsWhatCameBeforeTheDamageAndIsSetAside) {
    std::filesystem::create_directories(Folder());
    const std::string bytes = DamagedInTheMiddle();
    WriteFile(Folder() + "/ECR7.txt", bytes);
    WriteFile(Folder() + "/ECR8.txt", EncodeRecord(SaleRecord("kept")));
    {
        ReceiptJournal journal(Folder(), notices_);
        const auto loaded = journal.Load();
        // What the records before the bad line said is the register's.
        EXPECT_EQ(Lines(loaded, 7), (std::vector<std::string>{"a"}));
        EXPECT_EQ(loaded.registers.at(7).fields.commaText, "3");
        EXPECT_EQ(Lines(loaded, 8), (std::vector<std::string>{"kept"}));
        ASSERT_EQ(loaded.problems.size(), 1u);
        // The register goes on once its file is written anew from them.
        ASSERT_TRUE(journal.WaitDurable(7, journal.Append(7, {SaleRecord("d")}), 10s));
        const std::string aside = AsideFile(Folder(), "ECR7.txt");
        ASSERT_FALSE(aside.empty());
        EXPECT_EQ(ReadFile(aside), bytes);  // never discarded
        const auto shown = notices_.Notices();
        ASSERT_GE(shown.size(), 1u);
        EXPECT_NE(shown[0].text.find(aside), std::string::npos) << shown[0].text;
        EXPECT_NE(shown[0].text.find("linia 3"), std::string::npos) << shown[0].text;
        EXPECT_EQ(shown[0].icon, NoticeIcon::Error);
    }
    ReceiptJournal again(Folder(), notices_);
    const auto loaded = again.Load();
    EXPECT_TRUE(loaded.problems.empty());
    EXPECT_EQ(Lines(loaded, 7), (std::vector<std::string>{"a", "d"}));
    EXPECT_EQ(loaded.registers.at(7).fields.commaText, "3");
}

TEST_F(JournalWriter, ClosingsCancelledOneAfterAnotherLeaveNoTrail) {
    // A register repeats a closing that its journal cannot keep in time: each try is a
    // closing record and its cancel. Neither stays, so the file is bounded by what is open.
    const std::string pad(400, 'x');
    ReceiptJournal journal(Folder(), notices_);
    journal.Load();
    ASSERT_TRUE(journal.WaitDurable(5, journal.Append(5, {SaleRecord("a")}), 10s));
    std::filesystem::create_directory(journal.PathOf(6));  // 6's file cannot be written
    for (int repeat = 0; repeat < 30; ++repeat) {
        for (int reg : {5, 6}) {
            OpenClosing c = Closing(journal.NextClosingSeq());
            c.bonLines = {pad};
            journal.Append(reg, {ClosingRecord(c, std::nullopt, pad)});
            journal.Append(reg, {SeqRecord('X', c.seq)});
        }
    }
    ASSERT_TRUE(journal.WaitDurable(5, journal.Append(5, {SaleRecord("b")}), 10s));
    std::filesystem::remove(journal.PathOf(6));
    ASSERT_TRUE(journal.WaitDurable(6, journal.Append(6, {SaleRecord("c")}), 10s));
    for (int reg : {5, 6}) {
        const std::string bytes = ReadFile(journal.PathOf(reg));
        EXPECT_EQ(bytes.find(" C\t"), std::string::npos) << reg;
        EXPECT_LT(bytes.size(), 2 * pad.size()) << reg;
    }
    EXPECT_EQ(ParseJournal(ReadFile(journal.PathOf(5))).state.tranLines,
              (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ParseJournal(ReadFile(journal.PathOf(6))).state.tranLines,
              (std::vector<std::string>{"c"}));
}

TEST_F(JournalWriter, ASecondJournalOnTheSameFolderIsRefusedAndNamesItsHolder) {
    ReceiptJournal first(Folder(), notices_);
    first.Load();
    ReceiptJournal second(Folder(), notices_);
    try {
        second.Load();
        ADD_FAILURE() << "a second journal was opened on the same folder";
    } catch (const JournalLocked& e) {
        EXPECT_EQ(e.HeldBy(), FolderLock::ThisProgram());
        EXPECT_NE(std::string(e.what()).find(Folder()), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(second.PathOf(1)));
}

TEST_F(JournalWriter, AJournalLeftAtItsPreviousPlaceIsCarriedToTheNewOne) {
    const std::string old = folder_.File("old.journal");
    {
        ReceiptJournal journal(old, notices_);
        journal.Load();
        ASSERT_TRUE(journal.WaitDurable(3, journal.Append(3, {SaleRecord("sold")}), 10s));
    }
    {
        ReceiptJournal journal(Folder(), notices_);
        const auto loaded = journal.Load(old);
        EXPECT_EQ(Lines(loaded, 3), (std::vector<std::string>{"sold"}));
        EXPECT_FALSE(std::filesystem::exists(old + "/ECR3.txt"));
    }
    // Lines in both places cannot be merged: refused, both left as they were.
    {
        ReceiptJournal journal(old, notices_);
        journal.Load();
        ASSERT_TRUE(journal.WaitDurable(3, journal.Append(3, {SaleRecord("other")}), 10s));
    }
    ReceiptJournal journal(Folder(), notices_);
    EXPECT_THROW(journal.Load(old), JournalError);
    EXPECT_TRUE(std::filesystem::exists(old + "/ECR3.txt"));
    EXPECT_EQ(ParseJournal(ReadFile(Folder() + "/ECR3.txt")).state.tranLines,
              (std::vector<std::string>{"sold"}));
}

TEST(JournalPlace, TheFolderIsBesideTheTransactionFile) {
    EXPECT_EQ(ReceiptJournal::FolderBeside("/srv/shop/Tran.txt"), "/srv/shop/Tallyport.journal");
    EXPECT_EQ(ReceiptJournal::FolderBeside("Tran.txt"), "./Tallyport.journal");
    EXPECT_EQ(ReceiptJournal::FolderBeside("/Tran.txt"), "/Tallyport.journal");
}

}  // namespace
}  // namespace tallyport
