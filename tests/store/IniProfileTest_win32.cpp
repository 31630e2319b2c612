// The configuration file's writes on Windows: a new file takes the old one's place with its
// attributes, a read-only file is left alone and the save says why, and a file the back office
// holds open is not torn.
#include <gtest/gtest.h>

#include "ConfigTestSupport.h"
#include "TableTestSupport.h"
#include "store/AppSettings.h"
#include "store/IniProfile.h"
#include "store/StoreError.h"
#include "support/WindowsFiles.h"

namespace tallyport {
namespace {

using test::AttributesOf;
using test::FileIndexOf;
using test::SetAttributes;
using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;
using testing::ReadExistingFile;

TEST(IniProfileOnWindows, WritesReplaceTheFileKeepingItsAttributes) {
    TempFolder folder;
    const std::string path = folder.File("Tallyport.ini");
    WriteFile(path, "[Files]\r\nPLU=PLU.txt\r\n");
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_HIDDEN));
    const auto index = FileIndexOf(path);

    WriteProfileString(path, "Files", "PLU", "Art.txt");
    EXPECT_EQ(ReadExistingFile(path), "[Files]\r\nPLU=Art.txt\r\n");
    EXPECT_NE(FileIndexOf(path), index) << "a new file, not the old one rewritten in place";
    EXPECT_NE(AttributesOf(path) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"Tallyport.ini"});

    // Writing the value the file already holds leaves the file alone.
    const auto written = FileIndexOf(path);
    WriteProfileString(path, "files", "plu", "Art.txt");
    EXPECT_EQ(FileIndexOf(path), written);
}

TEST(IniProfileOnWindows, AReadOnlyFileSurvivesASettingsSaveAndTheSaveSaysWhy) {
    TempFolder folder;
    const std::string path = folder.File("Tallyport.ini");
    const std::string old = "[Files]\r\nPLU=PLU\xE9.txt\r\n";
    WriteFile(path, old);
    ASSERT_TRUE(SetAttributes(path, FILE_ATTRIBUTE_READONLY));
    try {
        WriteProfileString(path, "Scale", "Prefix", "27");
        ADD_FAILURE() << "a read-only file was written";
    } catch (const StoreError& error) {
        EXPECT_STREQ(error.what(), ("Unable to write to " + path).c_str());
        EXPECT_EQ(error.Reason(), ERROR_ACCESS_DENIED);
    }
    AppSettingsRecord settings;
    settings.Prefix = 27;
    int reason = 0;
    EXPECT_TRUE(SaveConfig(path, settings, &reason));
    EXPECT_EQ(reason, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadExistingFile(path), old);
    EXPECT_NE(AttributesOf(path) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"Tallyport.ini"});
    SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
}

TEST(IniProfileOnWindows, AFileHeldByAProgramThatKeepsWritersOutIsNotTouched) {
    TempFolder folder;
    const std::string path = folder.File("Tallyport.ini");
    const std::string old = "[Scale]\r\nPrefix=24\r\n";
    WriteFile(path, old);
    {
        const auto reader = test::HoldFile(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.Valid());
        EXPECT_EQ(ErrorOf([&] { WriteProfileString(path, "Scale", "Prefix", "27"); }),
                  "Unable to write to " + path);
    }
    EXPECT_EQ(ReadExistingFile(path), old);
    // Once it is let go, the save goes through.
    WriteProfileString(path, "Scale", "Prefix", "27");
    EXPECT_EQ(ReadExistingFile(path), "[Scale]\r\nPrefix=27\r\n");
}

}  // namespace
}  // namespace tallyport
