// The folder rule with POSIX spellings: the install folder (also under another root), XDG's
// user folder, systemd's state folder, and the facts from the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "base/BuildInfo.h"
#include "base/ProgramFolders.h"

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
// Sets an environment variable for one scope and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(FolderRule, FactsOfTheProcessComeFromTheEnvironment) {
    const ScopedEnvironment state("STATE_DIRECTORY", "/var/lib/tallyport");
    const ScopedEnvironment data("XDG_DATA_HOME", "/data/x");
    const FolderFacts facts = FolderFactsOfProcess(std::string("a.ini"));
    EXPECT_EQ(facts.stateDirectory, "/var/lib/tallyport");
    EXPECT_EQ(facts.dataHome, "/data/x");
    EXPECT_EQ(facts.installBinDir, build_info::kInstallBinDir);
    ASSERT_TRUE(facts.configOption.has_value());
    EXPECT_EQ(*facts.configOption, "a.ini");
    EXPECT_EQ(facts.startFolder, fs::current_path().string());
    // This test program runs from the build folder, so it is not installed.
    EXPECT_FALSE(facts.programFolder.empty());
    EXPECT_TRUE(fs::exists(fs::path(facts.programFolder)));
    EXPECT_FALSE(facts.home.empty());
}

}  // namespace
}  // namespace tallyport
