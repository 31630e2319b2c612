#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "base/BuildInfo.h"
#include "base/FirstStartFiles.h"
#include "base/ProgramFolders.h"
#include "store/AppSettings.h"
#include "store/CsvTable.h"
#include "store/RegisterList.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;

// A desktop user's program from the package: no --config, no state folder.
FolderFacts InstalledForUser() {
    FolderFacts facts;
    facts.programFolder = "/usr/bin";
    facts.installBinDir = "/usr/bin";
    facts.startFolder = "/home/ana/Desktop";
    facts.home = "/home/ana";
    return facts;
}

ProgramFolders UserFolderIn(const test::TempFolder& temp) {
    FolderFacts facts = InstalledForUser();
    facts.dataHome = temp.Path().string();
    return ChooseProgramFolders(facts);
}

TEST(FirstStart, MakesTheFolderWithADefaultConfigurationAndEmptyTables) {
    test::TempFolder temp;
    const ProgramFolders folders = UserFolderIn(temp);
    ASSERT_EQ(PrepareProgramFolder(folders, FirstStartFiles()), "");
    EXPECT_EQ(test::NamesIn(folders.workingFolder),
              (std::vector<std::string>{"ECRs.dat", "PLU.txt", "Tallyport.ini"}));

    // The commented configuration reads as the defaults, exactly as no file at all.
    AppSettingsRecord fromFile;
    AppSettingsRecord fromNothing;
    EXPECT_FALSE(LoadConfig(folders.configPath, fromFile));
    EXPECT_FALSE(LoadConfig(temp.File("missing.ini"), fromNothing));
    EXPECT_EQ(fromFile.PLU, fromNothing.PLU);
    EXPECT_EQ(fromFile.ReceiptMaster, fromNothing.ReceiptMaster);
    EXPECT_EQ(fromFile.ReceiptDetail, fromNothing.ReceiptDetail);
    EXPECT_EQ(fromFile.Backup, fromNothing.Backup);
    EXPECT_EQ(fromFile.ECRList, fromNothing.ECRList);
    EXPECT_EQ(fromFile.Min, fromNothing.Min);
    EXPECT_EQ(fromFile.Max, fromNothing.Max);
    EXPECT_EQ(fromFile.Prefix, fromNothing.Prefix);
    EXPECT_EQ(fromFile.RecDiscount, fromNothing.RecDiscount);
    EXPECT_EQ(fromFile.RecAmount, fromNothing.RecAmount);
    EXPECT_EQ(fromFile.RecSepFiles, fromNothing.RecSepFiles);
    EXPECT_EQ(fromFile.RecDecimals, fromNothing.RecDecimals);
    // ...and it explains itself to whoever opens it.
    EXPECT_NE(test::ReadFile(folders.configPath).find(";PLU=PLU.txt"), std::string::npos);

    // The register list it names loads, empty.
    auto registers = MakeRegisterList();
    LoadTableFromFile(*registers, (fs::path(folders.workingFolder) / fromFile.ECRList).string());
    EXPECT_EQ(registers->RowCount(), 0u);
}

TEST(FirstStart, LaterStartsNeverTouchTheUsersFiles) {
    test::TempFolder temp;
    const ProgramFolders folders = UserFolderIn(temp);
    ASSERT_EQ(PrepareProgramFolder(folders, FirstStartFiles()), "");
    const std::string ini = "[Files]\r\nPLU=/srv/bo/PLU.txt\r\n";
    test::WriteFile(folders.configPath, ini);
    test::WriteFile(folders.workingFolder + "/ECRs.dat", "1,MP55,9600,8,None,1,COM1,AB1,\r\n");
    fs::remove(folders.workingFolder + "/PLU.txt");

    ASSERT_EQ(PrepareProgramFolder(folders, FirstStartFiles()), "");
    EXPECT_EQ(test::ReadFile(folders.configPath), ini);
    EXPECT_EQ(test::ReadFile(folders.workingFolder + "/ECRs.dat"),
              "1,MP55,9600,8,None,1,COM1,AB1,\r\n");
    EXPECT_FALSE(fs::exists(folders.workingFolder + "/PLU.txt"))
        << "a file the user removed stays removed";
}

TEST(FirstStart, AFolderWithoutConfigurationKeepsTheFilesItHas) {
    test::TempFolder temp;
    const ProgramFolders folders = UserFolderIn(temp);
    fs::create_directories(folders.workingFolder);
    test::WriteFile(folders.workingFolder + "/ECRs.dat", "2,MP500,4800,8,Even,1,COM2,X,\r\n");
    ASSERT_EQ(PrepareProgramFolder(folders, FirstStartFiles()), "");
    EXPECT_EQ(test::ReadFile(folders.workingFolder + "/ECRs.dat"),
              "2,MP500,4800,8,Even,1,COM2,X,\r\n");
    EXPECT_TRUE(fs::exists(folders.configPath));
    EXPECT_TRUE(fs::exists(folders.workingFolder + "/PLU.txt"));
}

TEST(FirstStart, TheServiceFolderIsPreparedTheSameWay) {
    test::TempFolder temp;
    FolderFacts facts = InstalledForUser();
    facts.stateDirectory = temp.File("state");
    const ProgramFolders folders = ChooseProgramFolders(facts);
    ASSERT_EQ(folders.rule, FolderRule::ServiceFolder);
    ASSERT_EQ(PrepareProgramFolder(folders, FirstStartFiles()), "");
    EXPECT_EQ(test::NamesIn(temp.File("state")),
              (std::vector<std::string>{"ECRs.dat", "PLU.txt", "Tallyport.ini"}));
}

TEST(FirstStart, NothingIsMadeForAProgramInItsOwnFolderOrWithConfig) {
    test::TempFolder temp;
    FolderFacts facts = InstalledForUser();
    facts.programFolder = temp.Path().string();
    EXPECT_EQ(PrepareProgramFolder(ChooseProgramFolders(facts), FirstStartFiles()), "");
    facts.configOption = temp.File("shop/Tallyport.ini");
    EXPECT_EQ(PrepareProgramFolder(ChooseProgramFolders(facts), FirstStartFiles()), "");
    EXPECT_TRUE(temp.Names().empty());
}

TEST(FirstStart, AFolderThatCannotBeMadeIsReported) {
    test::TempFolder temp;
    test::WriteFile(temp.File("plain"), "x");
    FolderFacts facts = InstalledForUser();
    facts.dataHome = temp.File("plain");  // a file where the folder should go
    const std::string failure =
        PrepareProgramFolder(ChooseProgramFolders(facts), FirstStartFiles());
    EXPECT_NE(failure.find(temp.File("plain")), std::string::npos) << failure;
}

TEST(WorkingFolder, IsEnteredWhenTheRuleNamesOne) {
    test::TempFolder temp;
    const fs::path before = fs::current_path();
    ProgramFolders folders{FolderRule::ConfigOption, temp.File("Tallyport.ini"),
                           temp.Path().string()};
    EXPECT_EQ(EnterWorkingFolder(folders), "");
    EXPECT_EQ(fs::current_path(), fs::canonical(temp.Path()));

    folders.workingFolder = "";
    EXPECT_EQ(EnterWorkingFolder(folders), "");
    EXPECT_EQ(fs::current_path(), fs::canonical(temp.Path())) << "an empty folder changes nothing";

    folders.workingFolder = temp.File("missing");
    EXPECT_NE(EnterWorkingFolder(folders), "");
    EXPECT_EQ(fs::current_path(), fs::canonical(temp.Path()));
    fs::current_path(before);
}

}  // namespace
}  // namespace tallyport
