#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "ConfigTestSupport.h"
#include "TableTestSupport.h"
#include "store/IniProfile.h"
#include "store/StoreError.h"

namespace tallyport {
namespace {

using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;
using testing::ReadExistingFile;

TEST(IniProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    EXPECT_EQ(ReadProfileString(path, "Files", "PLU", "PLU.txt"), "PLU.txt");
    EXPECT_EQ(ReadProfileString(folder.File("none/Tallyport.ini"), "Files", "PLU", "d"), "d");
    EXPECT_TRUE(folder.Names().empty()) << "reading must not create the file";

    WriteFile(path, "[Files]\r\nPLU=Art.txt\r\n[Scale]\r\nPrefix=21\r\n");
    EXPECT_EQ(ReadProfileString(path, "Files", "PLU", "d"), "Art.txt");
    EXPECT_EQ(ReadProfileString(path, "Options", "PLU", "d"), "d");   // no such section
    EXPECT_EQ(ReadProfileString(path, "Files", "Backup", "d"), "d");  // no such key
    EXPECT_EQ(ReadProfileString(path, "Files", "Prefix", "d"), "d");  // key of another section
    EXPECT_EQ(ReadProfileString(path, "Scale", "Prefix", "d"), "21");
}

TEST(IniProfileRead, NamesMatchWithoutRegardToCaseOrBlanks) {
    std::string text = "[fIlEs]\r\n  plu  =  Art List.txt \t\r\n[ Scale ]\r\nPREFIX\t= 21\r\n";
    EXPECT_EQ(FindProfileValue(text, "Files", "PLU"), "Art List.txt");
    EXPECT_EQ(FindProfileValue(text, "FILES", "Plu"), "Art List.txt");
    EXPECT_EQ(FindProfileValue(text, "scale", "prefix"), "21");
    // Only ASCII letters fold: bytes of the code page above 127 must match exactly.
    EXPECT_EQ(FindProfileValue("[\xC3]\nk=1\n", "\xC3", "K"), "1");
    EXPECT_EQ(FindProfileValue("[\xC3]\nk=1\n", "\xE3", "k"), std::nullopt);
}

TEST(IniProfileRead, FirstSectionAndFirstKeyWin) {
    std::string text =
        "[Files]\nPLU=first\nplu=second\n"
        "[Other]\nPLU=other\n"
        "[FILES]\nPLU=third\nBackup=only-in-second\n";
    EXPECT_EQ(FindProfileValue(text, "Files", "PLU"), "first");
    EXPECT_EQ(FindProfileValue(text, "Other", "PLU"), "other");
    // A later section of the same name is never looked at.
    EXPECT_EQ(FindProfileValue(text, "Files", "Backup"), std::nullopt);
}

TEST(IniProfileRead, LineEndsAndOddLines) {
    using namespace std::string_literals;
    std::string text =
        "PLU=before any section\n"
        "[Files]\r\n"
        "; PLU=commented out\r\n"
        "PLU\r\n"                // no "=": not an entry
        "Backup=\\Backup\\\r"    // lone CR ends a line
        "ECRList=ECRs.dat\n"     // LF
        "ReceiptMaster=a=b\r\n"  // the first "=" separates
        "ReceiptDetail=\r\n"     // empty value
        "Odd=x\r\r\n"            // CR then CR LF: an empty line follows
        "Nul=ab\0cd\r\n"         // a NUL byte ends the value
        "[Scale\r\n"             // header without "]"
        "Prefix=27"s;            // last line without a line end

    EXPECT_EQ(FindProfileValue(text, "Files", "PLU"), std::nullopt);
    EXPECT_EQ(FindProfileValue(text, "Files", "Backup"), "\\Backup\\");
    EXPECT_EQ(FindProfileValue(text, "Files", "ECRList"), "ECRs.dat");
    EXPECT_EQ(FindProfileValue(text, "Files", "ReceiptMaster"), "a=b");
    EXPECT_EQ(FindProfileValue(text, "Files", "ReceiptDetail"), "");
    EXPECT_EQ(FindProfileValue(text, "Files", "Odd"), "x");
    EXPECT_EQ(FindProfileValue(text, "Files", "Nul"), "ab");
    EXPECT_EQ(FindProfileValue(text, "Scale", "Prefix"), "27");
    EXPECT_EQ(FindProfileValue("", "Files", "PLU"), std::nullopt);
}

TEST(IniProfileRead, ValuesAndDefaultsAreCutTo2047Characters) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    std::string longValue;
    for (int i = 0; i < 3000; ++i) {
        longValue.push_back(static_cast<char>('a' + i % 26));
    }
    WriteFile(path, "[Files]\r\nPLU=" + longValue + "\r\n");
    EXPECT_EQ(ReadProfileString(path, "Files", "PLU", ""), longValue.substr(0, 2047));
    EXPECT_EQ(ReadProfileString(path, "Files", "Backup", longValue), longValue.substr(0, 2047));
    // A cut that ends in blanks does not keep them.
    WriteFile(path, "[Files]\r\nPLU=" + std::string(2045, 'a') + "  b\r\n");
    EXPECT_EQ(ReadProfileString(path, "Files", "PLU", ""), std::string(2045, 'a'));
    // As with the platform's profile reads, trailing blanks of a default are dropped.
    EXPECT_EQ(ReadProfileString(path, "Files", "Backup", " Tran.txt \t"), " Tran.txt");
}

TEST(IniProfileRead, UnreadableFileIsAnErrorNotADefault) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    ASSERT_TRUE(std::filesystem::create_directory(path));
    EXPECT_EQ(ErrorOf([&] { ReadProfileString(path, "Files", "PLU", "d"); }),
              "Unable to read " + path);
}

TEST(IniProfileWrite, CreatesTheFileSectionsAndKeys) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    WriteProfileString(path, "Files", "PLU", "PLU.txt");
    EXPECT_EQ(ReadExistingFile(path), "[Files]\r\nPLU=PLU.txt\r\n");
    WriteProfileString(path, "Scale", "Prefix", "24");
    WriteProfileString(path, "Files", "Backup", "\\Backup\\");
    EXPECT_EQ(ReadExistingFile(path),
              "[Files]\r\nPLU=PLU.txt\r\nBackup=\\Backup\\\r\n[Scale]\r\nPrefix=24\r\n");
    EXPECT_EQ(ReadProfileString(path, "Files", "Backup", ""), "\\Backup\\");
}

TEST(IniProfileWrite, ReplacingAValueKeepsEveryOtherByte) {
    std::string before =
        "; shop settings\r\n"
        "[Files]\r\n"
        "PLU=PLU.txt\r\n"
        "Extra = kept as is \n"
        "\r\n"
        "  receiptmaster = Old.txt\t\r\n"
        "[Unknown]\n"
        "ReceiptMaster=not this one\n"
        "[Files]\r\n"
        "ReceiptMaster=nor this one\r\n"
        "Last=line without end";
    std::string after =
        "; shop settings\r\n"
        "[Files]\r\n"
        "PLU=PLU.txt\r\n"
        "Extra = kept as is \n"
        "\r\n"
        "  receiptmaster = C:\\BO\\Bon.txt\r\n"
        "[Unknown]\n"
        "ReceiptMaster=not this one\n"
        "[Files]\r\n"
        "ReceiptMaster=nor this one\r\n"
        "Last=line without end";
    EXPECT_EQ(WithProfileValue(before, "FILES", "ReceiptMaster", "C:\\BO\\Bon.txt"), after);
    EXPECT_EQ(WithProfileValue("[A]\nk=\n", "A", "k", "v"), "[A]\nk=v\n");
    EXPECT_EQ(WithProfileValue("[A]\nk=old\n", "A", "K", ""), "[A]\nk=\n");
}

TEST(IniProfileWrite, NewKeysGoAfterTheLastFilledLineOfTheirSection) {
    std::string text = "[Files]\nPLU=a\n; note\n\n\n[Scale]\nPrefix=24";
    EXPECT_EQ(WithProfileValue(text, "Files", "Backup", "b"),
              "[Files]\nPLU=a\n; note\nBackup=b\r\n\n\n[Scale]\nPrefix=24");
    // The last line of the file gets a line end before anything follows it.
    EXPECT_EQ(WithProfileValue(text, "scale", "Max", "1"),
              "[Files]\nPLU=a\n; note\n\n\n[Scale]\nPrefix=24\r\nMax=1\r\n");
    EXPECT_EQ(WithProfileValue(text, "Options", "RecAmount", "1"),
              text + "\r\n[Options]\r\nRecAmount=1\r\n");
    EXPECT_EQ(WithProfileValue("[Files]", "Files", "PLU", "x"), "[Files]\r\nPLU=x\r\n");
    EXPECT_EQ(WithProfileValue("x\r", "Files", "PLU", "x"), "x\r[Files]\r\nPLU=x\r\n");
}

TEST(IniProfileWrite, EntriesThatWouldBreakTheFileAreRefused) {
    EXPECT_TRUE(IsStorableProfileEntry("Files", "PLU", " any text, even [x] or a=b "));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "PLU", "a\r\n[Options]\r\nRecSepFiles=1"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "PLU", "a\rb"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "PLU", std::string("a\0b", 3)));
    EXPECT_FALSE(IsStorableProfileEntry("", "PLU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Fi]les", "PLU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry(" Files", "PLU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "P=LU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", ";PLU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "[PLU", "v"));
    EXPECT_FALSE(IsStorableProfileEntry("Files", "PLU\t", "v"));
    EXPECT_THROW(WithProfileValue("", "Files", "PLU", "a\nb"), std::invalid_argument);
}

TEST(IniProfileWrite, BytesOfTheCodePageAreNotReencoded) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    std::string name = "C:\\Magazin\\Art\xEE\xBA\xE3.txt";  // Romanian letters in code page 1250
    WriteFile(path, "[Files]\r\n; Set\xE3ri\r\n");
    WriteProfileString(path, "Files", "PLU", name);
    EXPECT_EQ(ReadExistingFile(path), "[Files]\r\n; Set\xE3ri\r\nPLU=" + name + "\r\n");
    EXPECT_EQ(ReadProfileString(path, "Files", "PLU", ""), name);
}

TEST(IniProfileWrite, RefusedWritesNameThePathAndLeaveTheFileAlone) {
    // A missing folder and a folder that is a file are tested through SaveConfig.
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    std::string old = "[Files]\nPLU=PLU.txt\n";
    WriteFile(path, old);
    EXPECT_EQ(ErrorOf([&] { WriteProfileString(path, "Files", "PLU", "a\r\n[Options]"); }),
              "Unable to write to " + path);
    EXPECT_EQ(ReadExistingFile(path), old);

    std::string aFolder = folder.File("folder.ini");
    ASSERT_TRUE(std::filesystem::create_directory(aFolder));
    EXPECT_EQ(ErrorOf([&] { WriteProfileString(aFolder, "Files", "PLU", "a"); }),
              "Unable to write to " + aFolder);

    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"Tallyport.ini", "folder.ini"}));
    EXPECT_TRUE(std::filesystem::is_empty(aFolder));
}

}  // namespace
}  // namespace tallyport
