#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

TEST(FolderRule, RunFromItsOwnFolderKeepsTheConfigurationNextToTheProgram) {
    for (const char* folder : {"/work/tallyport/build", "/home/ana/tallyport", "/opt/tallyport"}) {
        FolderFacts facts = InstalledForUser();
        facts.programFolder = folder;
        // The service's state folder does not move a program that is not installed either.
        facts.stateDirectory = "/var/lib/tallyport";
        const ProgramFolders chosen = ChooseProgramFolders(facts);
        EXPECT_EQ(chosen.rule, FolderRule::ProgramFolder) << folder;
        EXPECT_EQ(chosen.configPath, std::string(folder) + "/Tallyport.ini");
        EXPECT_EQ(chosen.workingFolder, "") << "the working folder stays as started";
    }
}

TEST(FolderRule, AnUnknownProgramFolderLooksInTheWorkingFolder) {
    FolderFacts facts = InstalledForUser();
    facts.programFolder = "";
    const ProgramFolders chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ProgramFolder);
    EXPECT_EQ(chosen.configPath, "Tallyport.ini");
    EXPECT_EQ(chosen.workingFolder, "");
}

TEST(FolderRule, InstalledForAUserUsesTheUsersDataFolder) {
    FolderFacts facts = InstalledForUser();
    ProgramFolders chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::UserFolder);
    EXPECT_EQ(chosen.workingFolder, "/home/ana/.local/share/Tallyport");
    EXPECT_EQ(chosen.configPath, "/home/ana/.local/share/Tallyport/Tallyport.ini");

    facts.dataHome = "/data/ana/";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.workingFolder, "/data/ana/Tallyport");
    EXPECT_EQ(chosen.configPath, "/data/ana/Tallyport/Tallyport.ini");

    // A relative XDG_DATA_HOME is not valid and is ignored.
    facts.dataHome = "data";
    EXPECT_EQ(ChooseProgramFolders(facts).workingFolder, "/home/ana/.local/share/Tallyport");
}

TEST(FolderRule, InstalledAsTheServiceUsesItsStateFolder) {
    FolderFacts facts = InstalledForUser();
    facts.home = "/";
    facts.stateDirectory = "/var/lib/tallyport";
    ProgramFolders chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ServiceFolder);
    EXPECT_EQ(chosen.workingFolder, "/var/lib/tallyport");
    EXPECT_EQ(chosen.configPath, "/var/lib/tallyport/Tallyport.ini");

    // Several StateDirectory= entries: the first is the program's.
    facts.stateDirectory = "/var/lib/tallyport2:/var/lib/other";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.workingFolder, "/var/lib/tallyport2");
}

TEST(FolderRule, ConfigOptionOverridesEveryOtherRule) {
    FolderFacts facts = InstalledForUser();
    facts.stateDirectory = "/var/lib/tallyport";
    facts.configOption = "/srv/shop2/Tallyport.ini";
    ProgramFolders chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ConfigOption);
    EXPECT_EQ(chosen.configPath, "/srv/shop2/Tallyport.ini");
    EXPECT_EQ(chosen.workingFolder, "/srv/shop2");

    // Relative to the folder the program was started in, any file name.
    facts.configOption = "../shop3/casa.ini";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.configPath, "/home/ana/shop3/casa.ini");
    EXPECT_EQ(chosen.workingFolder, "/home/ana/shop3");

    // Also for a program run from its own folder.
    facts.programFolder = "/work/tallyport/build";
    facts.configOption = "shop.ini";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ConfigOption);
    EXPECT_EQ(chosen.configPath, "/home/ana/Desktop/shop.ini");
    EXPECT_EQ(chosen.workingFolder, "/home/ana/Desktop");
}

TEST(FolderRule, InstalledMeansTheInstallFolderAlsoUnderAnotherRoot) {
    EXPECT_TRUE(IsInstalledFolder("/usr/bin", "/usr/bin"));
    EXPECT_TRUE(IsInstalledFolder("/usr/bin/", "/usr/bin"));
    EXPECT_TRUE(IsInstalledFolder("/usr/./bin", "/usr/bin/"));
    EXPECT_TRUE(IsInstalledFolder("/srv/root/usr/bin", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("/usr/local/bin", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("/srv/myusr/bin", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("/usr/bin/tallyport", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("/work/build", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("", "/usr/bin"));
    EXPECT_FALSE(IsInstalledFolder("/usr/bin", ""));
}

// The rule as the process sees it: the environment's folders and the program's own.
TEST(FolderRule, FactsOfTheProcessComeFromTheEnvironment) {
    ::setenv("STATE_DIRECTORY", "/var/lib/tallyport", 1);
    ::setenv("XDG_DATA_HOME", "/data/x", 1);
    const FolderFacts facts = FolderFactsOfProcess(std::string("a.ini"), "/usr/bin");
    ::unsetenv("STATE_DIRECTORY");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(facts.stateDirectory, "/var/lib/tallyport");
    EXPECT_EQ(facts.dataHome, "/data/x");
    EXPECT_EQ(facts.installBinDir, "/usr/bin");
    ASSERT_TRUE(facts.configOption.has_value());
    EXPECT_EQ(*facts.configOption, "a.ini");
    EXPECT_EQ(facts.startFolder, fs::current_path().string());
    // This test program runs from the build folder, so it is not installed.
    EXPECT_FALSE(facts.programFolder.empty());
    EXPECT_TRUE(fs::exists(fs::path(facts.programFolder)));
    EXPECT_FALSE(facts.home.empty());
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
