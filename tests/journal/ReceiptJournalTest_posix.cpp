// The journal's writer on file systems that refuse it (POSIX): a damaged file that cannot be set
// aside, a read-only and a full file system hold the records back until they can take them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "JournalTestSupport.h"
#include "support/ScratchMount.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::ScratchMounts;
using test::WriteFile;
using testing::AsideFile;
using testing::DamagedInTheMiddle;
using testing::JournalWriter;
using testing::Lines;

TEST_F(JournalWriter, ADamagedFileThatCannotBeSetAsideHoldsItsRegister) {
    ScratchMounts fs;
    if (!fs.MountTmpfs(Folder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    WriteFile(Folder() + "/ECR7.txt", DamagedInTheMiddle());
    WriteFile(Folder() + "/ECR8.txt", EncodeRecord(SaleRecord("kept")));
    WriteFile(Folder() + "/Tallyport.lock", "");
    ASSERT_TRUE(fs.SetReadOnly(Folder(), true));
    ReceiptJournal journal(Folder(), notices_);
    const auto loaded = journal.Load();
    EXPECT_EQ(Lines(loaded, 7), (std::vector<std::string>{"a"}));
    // Held as a register whose journal cannot be written: nothing counts as kept, not even
    // "nothing appended", and the reason is there for its status.
    EXPECT_FALSE(journal.WaitDurable(7, 0, 1500ms));
    EXPECT_TRUE(journal.Failing(7));
    ASSERT_TRUE(journal.FailureOf(7).has_value());
    EXPECT_NE(journal.FailureOf(7)->find(std::strerror(EROFS)), std::string::npos);
    EXPECT_TRUE(journal.WaitDurable(8, 0, 0ms)) << "another register is served";

    ASSERT_TRUE(fs.SetReadOnly(Folder(), false));
    ASSERT_TRUE(journal.WaitDurable(7, journal.Append(7, {SaleRecord("d")}), 10s));
    EXPECT_FALSE(AsideFile(Folder(), "ECR7.txt").empty());
    EXPECT_EQ(ParseJournal(ReadFile(journal.PathOf(7))).state.tranLines,
              (std::vector<std::string>{"a", "d"}));
}

TEST_F(JournalWriter, AReadOnlyFileSystemHoldsTheRecordsBackUntilItIsWritable) {
    ScratchMounts fs;
    if (!fs.MountTmpfs(Folder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    {
        ReceiptJournal journal(Folder(), notices_);
        journal.Load();
        ASSERT_TRUE(journal.WaitDurable(4, journal.Append(4, {SaleRecord("kept")}), 10s));
        ASSERT_TRUE(fs.SetReadOnly(Folder(), true));
        const auto t = journal.Append(4, {SaleRecord("waiting")});
        EXPECT_FALSE(journal.WaitDurable(4, t, 2500ms));
        EXPECT_TRUE(journal.Failing(4));
        // The reason, for the register's status: the file and the system's word for it.
        const std::optional<std::string> reason = journal.FailureOf(4);
        ASSERT_TRUE(reason.has_value());
        EXPECT_NE(reason->find(journal.PathOf(4)), std::string::npos) << *reason;
        EXPECT_NE(reason->find(std::strerror(EROFS)), std::string::npos) << *reason;
        EXPECT_FALSE(journal.FailureOf(5).has_value()) << "another register is not failing";
        // Told once, with the register and the path, although the writer tried again.
        auto shown = notices_.Notices();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0].text.find("casei 4"), std::string::npos) << shown[0].text;
        EXPECT_NE(shown[0].text.find(journal.PathOf(4)), std::string::npos) << shown[0].text;
        EXPECT_EQ(ReadFile(journal.PathOf(4)).find("waiting"), std::string::npos);

        ASSERT_TRUE(fs.SetReadOnly(Folder(), false));
        EXPECT_TRUE(journal.WaitDurable(4, t, 10s));
        EXPECT_FALSE(journal.Failing(4));
        EXPECT_FALSE(journal.FailureOf(4).has_value());
        // The return is told once too; later writes tell nothing.
        ASSERT_TRUE(journal.WaitDurable(4, journal.Append(4, {SaleRecord("after")}), 10s));
        shown = notices_.Notices();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].title, "Casa 4: jurnal scris din nou");
        EXPECT_EQ(shown[1].icon, NoticeIcon::Information);
    }
    ReceiptJournal again(Folder(), notices_);
    EXPECT_EQ(Lines(again.Load(), 4), (std::vector<std::string>{"kept", "waiting", "after"}));
}

TEST_F(JournalWriter, AFullFileSystemHoldsTheRecordsBackWithoutAHalfRecord) {
    ScratchMounts fs;
    if (!fs.MountTmpfs(Folder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    ReceiptJournal journal(Folder(), notices_);
    journal.Load();
    ASSERT_TRUE(journal.WaitDurable(4, journal.Append(4, {SaleRecord("kept")}), 10s));
    // Fill the file system to the last byte.
    const std::string filler = Folder() + "/filler";
    {
        std::FILE* f = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(1024, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        while (std::fputc('x', f) != EOF) {
        }
        std::fclose(f);
    }
    const auto t = journal.Append(4, {SaleRecord(std::string(6000, 'w'))});
    EXPECT_FALSE(journal.WaitDurable(4, t, 2500ms));
    EXPECT_TRUE(journal.Failing(4));
    EXPECT_EQ(notices_.Notices().size(), 1u);
    // Nothing of the record that did not fit is left in the file.
    EXPECT_EQ(ReadFile(journal.PathOf(4)), EncodeRecord(SaleRecord("kept")));

    std::filesystem::remove(filler);
    EXPECT_TRUE(journal.WaitDurable(4, t, 10s));
    EXPECT_EQ(ParseJournal(ReadFile(journal.PathOf(4))).state.tranLines,
              (std::vector<std::string>{"kept", std::string(6000, 'w')}));
}

}  // namespace
}  // namespace tallyport
