// The register list's file on Windows: a read-only list is left alone and the save says so; a
// save keeps the list's attributes.
#include <gtest/gtest.h>

#include "TableTestSupport.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"
#include "support/WindowsFiles.h"

namespace tallyport {
namespace {

using test::AttributesOf;
using test::ReadFile;
using test::SetAttributes;
using test::TempFolder;
using test::WriteFile;
using testing::AddRegister;

const std::string kLine = "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA\r\n";

TEST(RegisterListOnWindows, AReadOnlyListIsNotReplacedAndTheSaveSaysSo) {
    TempFolder dir;
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, kLine);
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_READONLY));
    auto list = MakeRegisterList();
    LoadTableFromFile(*list, path);
    AddRegister(*list, "2", "COM2");
    try {
        SaveTableToFile(*list, path);
        ADD_FAILURE() << "a read-only list was replaced";
    } catch (const StoreError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file " + path).c_str());
        EXPECT_EQ(e.Reason(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(ReadFile(path), kLine);
    EXPECT_NE(AttributesOf(path) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});
    EXPECT_EQ(list->RowCount(), 2u);  // the change stays in memory
    SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
}

TEST(RegisterListOnWindows, ASaveKeepsTheListsAttributes) {
    TempFolder dir;
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, kLine);
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    auto list = MakeRegisterList();
    LoadTableFromFile(*list, path);
    AddRegister(*list, "2", "COM2");
    SaveTableToFile(*list, path);
    EXPECT_EQ(ReadFile(path).substr(0, kLine.size()), kLine);
    EXPECT_EQ(AttributesOf(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

TEST(RegisterListOnWindows, AListTheBackOfficeIsWritingCannotBeReadNow) {
    TempFolder dir;
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, kLine);
    auto list = MakeRegisterList();
    {
        // A writer that lets others read: the file is not read while it may be half written.
        const auto writer = test::HoldFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(writer.Valid());
        EXPECT_EQ(testing::ErrorOf([&] { LoadTableFromFile(*list, path); }),
                  "Cannot open file " + path);
    }
    LoadTableFromFile(*list, path);
    EXPECT_EQ(list->RowCount(), 1u);
}

}  // namespace
}  // namespace tallyport
