// The journal's writer where Windows refuses it: a damaged file another program holds (it
// cannot be set aside) and a read-only journal file hold their register's records back until
// they can take them; the folder's lock names this process.
#include "support/WindowsFiles.h"
// After windows.h:
#include <gtest/gtest.h>

#include <optional>

#include "JournalTestSupport.h"
#include "base/Paths.h"
#include "base/SystemError.h"
#include "journal/FolderLock.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;
using testing::AsideFile;
using testing::DamagedInTheMiddle;
using testing::JournalWriter;
using testing::Lines;

TEST_F(JournalWriter, ADamagedFileAnotherProgramHoldsKeepsItsRegisterWaiting) {
    ASSERT_EQ(MakeFolders(Folder()), 0);
    const std::string damaged = Folder() + "\\ECR7.txt";
    WriteFile(damaged, DamagedInTheMiddle());
    WriteFile(Folder() + "\\ECR8.txt", EncodeRecord(SaleRecord("kept")));
    // A program that reads the file and lets others read and write it, but not move it away.
    auto holder = test::HoldFile(damaged, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(holder.Valid());
    ReceiptJournal journal(Folder(), notices_);
    const auto loaded = journal.Load();
    EXPECT_EQ(Lines(loaded, 7), (std::vector<std::string>{"a"}));
    EXPECT_FALSE(journal.WaitDurable(7, 0, 1500ms));
    EXPECT_TRUE(journal.Failing(7));
    ASSERT_TRUE(journal.FailureOf(7).has_value());
    EXPECT_NE(journal.FailureOf(7)->find(ErrorText(ERROR_SHARING_VIOLATION)), std::string::npos)
        << *journal.FailureOf(7);
    EXPECT_TRUE(journal.WaitDurable(8, 0, 0ms)) << "another register is served";

    holder.Reset();
    ASSERT_TRUE(journal.WaitDurable(7, journal.Append(7, {SaleRecord("d")}), 10s));
    EXPECT_FALSE(AsideFile(Folder(), "ECR7.txt").empty());
    EXPECT_EQ(ParseJournal(ReadFile(journal.PathOf(7))).state.tranLines,
              (std::vector<std::string>{"a", "d"}));
}

TEST_F(JournalWriter, AReadOnlyJournalFileHoldsTheRecordsBackUntilItIsWritable) {
    {
        ReceiptJournal journal(Folder(), notices_);
        journal.Load();
        ASSERT_TRUE(journal.WaitDurable(4, journal.Append(4, {SaleRecord("kept")}), 10s));
        ASSERT_TRUE(test::SetAttributes(journal.PathOf(4), FILE_ATTRIBUTE_READONLY));
        const auto t = journal.Append(4, {SaleRecord("waiting")});
        EXPECT_FALSE(journal.WaitDurable(4, t, 2500ms));
        EXPECT_TRUE(journal.Failing(4));
        const std::optional<std::string> reason = journal.FailureOf(4);
        ASSERT_TRUE(reason.has_value());
        EXPECT_NE(reason->find(journal.PathOf(4)), std::string::npos) << *reason;
        EXPECT_NE(reason->find(ErrorText(ERROR_ACCESS_DENIED)), std::string::npos) << *reason;
        EXPECT_EQ(notices_.Notices().size(), 1u) << "told once, although tried again";
        EXPECT_EQ(ReadFile(journal.PathOf(4)).find("waiting"), std::string::npos);

        ASSERT_TRUE(test::SetAttributes(journal.PathOf(4), FILE_ATTRIBUTE_NORMAL));
        EXPECT_TRUE(journal.WaitDurable(4, t, 10s));
        EXPECT_FALSE(journal.Failing(4));
        EXPECT_EQ(notices_.Notices().size(), 2u);
    }
    ReceiptJournal again(Folder(), notices_);
    EXPECT_EQ(Lines(again.Load(), 4), (std::vector<std::string>{"kept", "waiting"}));
}

TEST(FolderLockOnWindows, TheHolderIsThisProcessByItsNumberAndFile) {
    const std::string holder = FolderLock::ThisProgram();
    EXPECT_EQ(holder.rfind("procesul " + std::to_string(::GetCurrentProcessId()) + " (", 0), 0u)
        << holder;
    EXPECT_NE(holder.find("tallyport-tests-journal.exe"), std::string::npos) << holder;
}

}  // namespace
}  // namespace tallyport
