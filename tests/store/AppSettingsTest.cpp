#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigTestSupport.h"
#include "base/DecimalSeparator.h"
#include "base/Paths.h"
#include "store/AppSettings.h"
#include "store/IniProfile.h"
#include "store/StoreError.h"
#include "support/RegionalSeparatorScope.h"

namespace tallyport {
namespace {

using test::TempFolder;
using test::WriteFile;
using testing::ReadExistingFile;

// Every field away from its default, so that a read that does not happen shows.
AppSettingsRecord Unusual() {
    AppSettingsRecord s;
    s.PLU = "/srv/shop/Art\xEE.txt";
    s.ReceiptMaster = "C:\\BO\\Bon.txt";
    s.ReceiptDetail = "Tran 2.txt";
    s.Backup = "";
    s.ECRList = "lists/ECRs.dat";
    s.Min = 0.5;
    s.Max = 1.5e-7;
    s.Prefix = -2147483647 - 1;
    s.RecDiscount = false;
    s.RecAmount = false;
    s.RecSepFiles = true;
    s.RecDecimals = true;
    s.ParallelLines = true;
    return s;
}

void ExpectDefaults(const AppSettingsRecord& s) {
    EXPECT_EQ(s.PLU, "PLU.txt");
    EXPECT_EQ(s.ReceiptMaster, "Bon.txt");
    EXPECT_EQ(s.ReceiptDetail, "Tran.txt");
    EXPECT_EQ(s.Backup, "\\Backup\\");
    EXPECT_EQ(s.ECRList, "ECRs.dat");
    EXPECT_EQ(s.Min, 0.0);
    EXPECT_EQ(s.Max, 100000000.0);
    EXPECT_EQ(s.Prefix, 24);
    EXPECT_TRUE(s.RecDiscount);
    EXPECT_TRUE(s.RecAmount);
    EXPECT_FALSE(s.RecSepFiles);
    EXPECT_FALSE(s.RecDecimals);
    EXPECT_FALSE(s.ParallelLines);
}

void ExpectSame(const AppSettingsRecord& a, const AppSettingsRecord& b) {
    EXPECT_EQ(a.PLU, b.PLU);
    EXPECT_EQ(a.ReceiptMaster, b.ReceiptMaster);
    EXPECT_EQ(a.ReceiptDetail, b.ReceiptDetail);
    EXPECT_EQ(a.Backup, b.Backup);
    EXPECT_EQ(a.ECRList, b.ECRList);
    EXPECT_EQ(a.Min, b.Min);
    EXPECT_EQ(a.Max, b.Max);
    EXPECT_EQ(a.Prefix, b.Prefix);
    EXPECT_EQ(a.RecDiscount, b.RecDiscount);
    EXPECT_EQ(a.RecAmount, b.RecAmount);
    EXPECT_EQ(a.RecSepFiles, b.RecSepFiles);
    EXPECT_EQ(a.RecDecimals, b.RecDecimals);
    EXPECT_EQ(a.ParallelLines, b.ParallelLines);
}

const char* const kDefaultFile =
    "[Files]\r\n"
    "PLU=PLU.txt\r\n"
    "ReceiptMaster=Bon.txt\r\n"
    "ReceiptDetail=Tran.txt\r\n"
    "Backup=\\Backup\\\r\n"
    "ECRList=ECRs.dat\r\n"
    "[CardOptions]\r\n"
    "Min=0\r\n"
    "Max=100000000\r\n"
    "[Scale]\r\n"
    "Prefix=24\r\n"
    "[Options]\r\n"
    "RecDiscount=1\r\n"
    "RecAmount=1\r\n"
    "RecSepFiles=0\r\n"
    "RecDecimals=0\r\n"
    "ParallelLines=0\r\n";

// Runs before any test touches the process-wide record (none of the others does).
TEST(AppSettingsRecord, ProcessWideRecordStartsEmpty) {
    EXPECT_EQ(AppSettings.PLU, "");
    EXPECT_EQ(AppSettings.ReceiptMaster, "");
    EXPECT_EQ(AppSettings.ReceiptDetail, "");
    EXPECT_EQ(AppSettings.Backup, "");
    EXPECT_EQ(AppSettings.ECRList, "");
    EXPECT_EQ(AppSettings.Min, 0.0);
    EXPECT_EQ(AppSettings.Max, 0.0);
    EXPECT_EQ(AppSettings.Prefix, 0);
    EXPECT_FALSE(AppSettings.RecDiscount || AppSettings.RecAmount || AppSettings.RecSepFiles ||
                 AppSettings.RecDecimals || AppSettings.ParallelLines);
}

class Config : public ::testing::Test {
protected:
    // Loads a file holding `text` into a record that starts unusual.
    AppSettingsRecord LoadFrom(const std::string& text) {
        WriteFile(path_, text);
        AppSettingsRecord s = Unusual();
        EXPECT_FALSE(LoadConfig(path_, s));
        return s;
    }

    // Every case starts with "." and leaves the separator as it found it.
    test::RegionalSeparatorScope point_{'.'};
    TempFolder folder_;
    std::string path_ = folder_.File("Tallyport.ini");
};

TEST_F(Config, MissingFileGivesEveryDefaultAndCreatesNothing) {
    AppSettingsRecord s = Unusual();
    EXPECT_FALSE(LoadConfig(path_, s));
    ExpectDefaults(s);
    EXPECT_TRUE(folder_.Names().empty());

    s = Unusual();
    EXPECT_FALSE(LoadConfig(folder_.File("no/such/folder/Tallyport.ini"), s));
    ExpectDefaults(s);
}

TEST_F(Config, MissingSectionsAndKeysGiveTheirDefaults) {
    AppSettingsRecord s = LoadFrom(
        "[files]\r\nplu=Art.txt\r\n"
        "[Scale]\r\nPrefix=21\r\n"
        "[Unknown]\r\nRecSepFiles=1\r\n");
    EXPECT_EQ(s.PLU, "Art.txt");
    EXPECT_EQ(s.Prefix, 21);
    EXPECT_EQ(s.ReceiptMaster, "Bon.txt");
    EXPECT_EQ(s.Max, 100000000.0);
    EXPECT_FALSE(s.RecSepFiles);  // the key stands in another section
    EXPECT_TRUE(s.RecAmount);
}

TEST_F(Config, PrefixReadsDecimalOrHexadecimalElseTheDefault) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"abc", 24},
        {"0x1A", 26},
        {"0X1a", 26},
        {"$1A", 26},
        {"-7", -7},
        {" 21 ", 21},
        {"", 24},
        {"1.5", 24},
        {"0x", 24},
        {"99999999999", 24},
        {"2147483647", 2147483647},
        {"21abc", 24},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LoadFrom(std::string("[Scale]\r\nPrefix=") + text + "\r\n").Prefix, expected)
            << '"' << text << '"';
    }
}

TEST_F(Config, BooleansReadAsIntegersAndAreWrittenAsOneOrZero) {
    AppSettingsRecord s = LoadFrom(
        "[Options]\r\nRecSepFiles=yes\r\nRecDecimals=2\r\nRecDiscount=true\r\nRecAmount=0x0\r\n");
    EXPECT_FALSE(s.RecSepFiles);  // not an integer: the default
    EXPECT_TRUE(s.RecDecimals);
    EXPECT_TRUE(s.RecDiscount);
    EXPECT_FALSE(s.RecAmount);

    s = LoadFrom("[Options]\r\nRecSepFiles=2\r\nRecDiscount=-1\r\nRecAmount=0\r\n");
    EXPECT_TRUE(s.RecSepFiles);
    EXPECT_TRUE(s.RecDiscount);
    EXPECT_FALSE(s.RecAmount);
    ASSERT_FALSE(SaveConfig(path_, s));
    EXPECT_EQ(ReadProfileString(path_, "Options", "RecSepFiles", ""), "1");
    EXPECT_EQ(ReadProfileString(path_, "Options", "RecDiscount", ""), "1");
    EXPECT_EQ(ReadProfileString(path_, "Options", "RecAmount", ""), "0");
}

TEST_F(Config, ParallelLinesIsAnOptionOffByDefault) {
    EXPECT_FALSE(LoadFrom("[Options]\r\nRecSepFiles=1\r\n").ParallelLines);
    EXPECT_FALSE(LoadFrom("[Options]\r\nParallelLines=yes\r\n").ParallelLines);
    AppSettingsRecord s = LoadFrom("[options]\r\nparallellines=1\r\n");
    EXPECT_TRUE(s.ParallelLines);
    ASSERT_FALSE(SaveConfig(path_, s));
    EXPECT_EQ(ReadProfileString(path_, "Options", "ParallelLines", ""), "1");
    s.ParallelLines = false;
    ASSERT_FALSE(SaveConfig(path_, s));
    EXPECT_EQ(ReadProfileString(path_, "Options", "ParallelLines", ""), "0");
}

TEST_F(Config, DoublesEmptyOrNotANumberGiveTheDefault) {
    AppSettingsRecord s = LoadFrom("[CardOptions]\r\nMin=abc\r\nMax=\r\n");
    EXPECT_EQ(s.Min, 0.0);
    EXPECT_EQ(s.Max, 100000000.0);

    s = LoadFrom("[CardOptions]\r\nMin= 12.5 \r\nMax=1E20\r\n");
    EXPECT_EQ(s.Min, 12.5);
    EXPECT_EQ(s.Max, 1e20);

    s = LoadFrom("[CardOptions]\r\nMin=1e999\r\nMax=2,5\r\n");
    EXPECT_EQ(s.Min, 0.0);          // out of range
    EXPECT_EQ(s.Max, 100000000.0);  // the separator of another region
}

TEST_F(Config, DoublesUseTheRegionalDecimalSeparator) {
    AppSettingsRecord read = Unusual();
    {
        test::RegionalSeparatorScope comma(',');
        AppSettingsRecord s = Unusual();
        s.Min = 0.5;
        s.Max = 2.5;
        ASSERT_FALSE(SaveConfig(path_, s));
        EXPECT_EQ(ReadProfileString(path_, "CardOptions", "Min", ""), "0,5");
        EXPECT_EQ(ReadProfileString(path_, "CardOptions", "Max", ""), "2,5");

        read.Min = 7;
        ASSERT_FALSE(LoadConfig(path_, read));
        EXPECT_EQ(read.Min, 0.5);
        EXPECT_EQ(read.Max, 2.5);
    }

    // Back under ".", where "0,5" is no number.
    ASSERT_FALSE(LoadConfig(path_, read));
    EXPECT_EQ(read.Min, 0.0);
    EXPECT_EQ(read.Max, 100000000.0);
}

TEST_F(Config, NewFileHoldsAllTwelveKeysInTableOrder) {
    AppSettingsRecord s = Unusual();
    ASSERT_FALSE(LoadConfig(path_, s));  // no file: the defaults
    ASSERT_FALSE(SaveConfig(path_, s));
    EXPECT_EQ(ReadExistingFile(path_), kDefaultFile);
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"Tallyport.ini"}));
}

TEST_F(Config, SaveChangesOnlyTheValues) {
    const std::string before =
        "; Tallyport settings, edited by hand\n"
        "[Options]\n"
        "RecSepFiles = 0 \n"
        "Colour=blue\n"
        "\n"
        "[Network]\n"
        "Host=backoffice\n"
        "[files]\n"
        "plu=PLU.txt\n";
    WriteFile(path_, before);
    AppSettingsRecord s = Unusual();
    ASSERT_FALSE(LoadConfig(path_, s));
    s.RecSepFiles = true;
    s.Prefix = 27;
    ASSERT_FALSE(SaveConfig(path_, s));
    EXPECT_EQ(ReadExistingFile(path_),
              "; Tallyport settings, edited by hand\n"
              "[Options]\n"
              "RecSepFiles = 1\n"
              "Colour=blue\n"
              "RecDiscount=1\r\n"
              "RecAmount=1\r\n"
              "RecDecimals=0\r\n"
              "ParallelLines=0\r\n"
              "\n"
              "[Network]\n"
              "Host=backoffice\n"
              "[files]\n"
              "plu=PLU.txt\n"
              "ReceiptMaster=Bon.txt\r\n"
              "ReceiptDetail=Tran.txt\r\n"
              "Backup=\\Backup\\\r\n"
              "ECRList=ECRs.dat\r\n"
              "[CardOptions]\r\n"
              "Min=0\r\n"
              "Max=100000000\r\n"
              "[Scale]\r\n"
              "Prefix=27\r\n");
}

TEST_F(Config, SaveThenLoadGivesTheSameSettings) {
    for (char separator : {'.', ','}) {
        test::RegionalSeparatorScope scope(separator);
        AppSettingsRecord written = Unusual();
        written.Max = -123456789.125;
        ASSERT_FALSE(SaveConfig(path_, written));
        AppSettingsRecord read;
        ASSERT_FALSE(LoadConfig(path_, read));
        ExpectSame(read, written);
    }
}

TEST_F(Config, FailedWriteGivesTrueAndWritesNothing) {
    const std::string paths[] = {folder_.File("missing/Tallyport.ini"),
                                 folder_.File("plain/Tallyport.ini")};
    WriteFile(folder_.File("plain"), "a file, not a folder");
    for (const std::string& path : paths) {
        EXPECT_TRUE(SaveConfig(path, Unusual())) << path;
        try {
            WriteProfileString(path, "Files", "PLU", "PLU.txt");
            ADD_FAILURE() << "the write to " << path << " did not fail";
        } catch (const StoreError& error) {
            EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
        }
    }
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"plain"}));
    EXPECT_EQ(ReadExistingFile(folder_.File("plain")), "a file, not a folder");
}

TEST_F(Config, KeysAfterAFailedWriteAreNotWritten) {
    // A name with a line break would slip a line into the file, so its write is refused.
    AppSettingsRecord s = Unusual();
    s.ReceiptDetail = "Tran.txt\r\n[Options]\r\nRecSepFiles=0";
    EXPECT_TRUE(SaveConfig(path_, s));
    EXPECT_EQ(ReadExistingFile(path_),
              "[Files]\r\nPLU=" + s.PLU + "\r\nReceiptMaster=" + s.ReceiptMaster + "\r\n");
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"Tallyport.ini"}));
}

TEST_F(Config, UnreadableFileFailsTheLoadAndKeepsTheSettings) {
    ASSERT_TRUE(std::filesystem::create_directory(path_));
    AppSettingsRecord s = Unusual();
    EXPECT_TRUE(LoadConfig(path_, s));
    ExpectSame(s, Unusual());
}

TEST(ConfigFileName, ANonAsciiNameIsWrittenAndReadBackByItsBytes) {
    // "ș" in UTF-8, a byte that is not UTF-8 (0xBA, "ş" in code page 1250): the settings hold a
    // file's name as bytes, and the file is found again by the same bytes.
    TempFolder folder;
    for (const std::string& name : {std::string("Set\xC8\x99ri.ini"), std::string("Cas\xBA.ini")}) {
        const std::string path = JoinPath(folder.Path().string(), name);
        AppSettingsRecord written = Unusual();
        written.PLU = JoinPath(folder.Path().string(), "Articole \xC8\x99i \xBA.txt");
        ASSERT_FALSE(SaveConfig(path, written)) << name;
        EXPECT_TRUE(PathExists(path));
        AppSettingsRecord read;
        ASSERT_FALSE(LoadConfig(path, read));
        ExpectSame(read, written);
        written.Prefix = 27;
        ASSERT_FALSE(SaveConfig(path, written));
        ASSERT_FALSE(LoadConfig(path, read));
        EXPECT_EQ(read.Prefix, 27);
        EXPECT_EQ(RemoveFile(path), 0);
    }
    EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
}  // namespace tallyport
