// Table saves on Windows: a save that Windows refuses (a read-only file, a file another program
// keeps writers from) leaves the previous file whole and no handle open.
#include <gtest/gtest.h>

#include "TableTestSupport.h"
#include "support/WindowsFiles.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::SetAttributes;
using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;
using testing::MakeSixColumnTable;
using testing::OpenDescriptorCount;

TEST(TableFileSaveOnWindows, ARefusedSaveLeavesThePreviousFileWholeAndNoHandleOpen) {
    TempFolder dir;
    const std::string path = dir.File("ECRs.dat");
    const std::string previous = "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA 1\r\n";
    WriteFile(path, previous);
    auto table = MakeSixColumnTable();
    table->Append();
    table->SetFromText(0, "NEW");
    table->Post();
    const int before = OpenDescriptorCount();

    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ErrorOf([&] { SaveTableToFile(*table, path); }), "Cannot create file " + path);
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_NORMAL));
    {
        const auto reader = test::HoldFile(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.Valid());
        EXPECT_EQ(ErrorOf([&] { SaveTableToFile(*table, path); }), "Cannot create file " + path);
    }
    EXPECT_EQ(ReadFile(path), previous);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});

    SaveTableToFile(*table, path);
    EXPECT_EQ(ReadFile(path), "NEW,,,,,\r\n");
}

}  // namespace
}  // namespace tallyport
