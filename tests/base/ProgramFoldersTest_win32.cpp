// The folder rule with Windows spellings: installed anywhere in Program Files (in any case), a
// user's %LOCALAPPDATA%\Tallyport, the service's %ProgramData%\Tallyport, --config relative to
// the start folder, and the facts from the process.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "base/Paths.h"
#include "base/ProgramFolders.h"
#include "base/Win32Text.h"

namespace tallyport {
namespace {

// A user's program installed in Program Files, as the installer puts it.
FolderFacts InstalledForUser() {
    FolderFacts facts;
    facts.programFolder = "C:\\Program Files\\Tallyport";
    facts.installBinDir = "C:\\Program Files;C:\\Program Files (x86)";
    facts.startFolder = "C:\\Users\\ana\\Desktop";
    facts.dataHome = "C:\\Users\\ana\\AppData\\Local";
    facts.home = "C:\\Users\\ana";
    return facts;
}

TEST(FolderRuleOnWindows, InstalledMeansInProgramFilesInAnyCaseAndSpelling) {
    const std::string bins = "C:\\Program Files;C:\\Program Files (x86)";
    EXPECT_TRUE(IsInstalledFolder("C:\\Program Files\\Tallyport", bins));
    EXPECT_TRUE(IsInstalledFolder("c:\\program files\\TALLYPORT\\", bins));
    EXPECT_TRUE(IsInstalledFolder("C:/Program Files/Tallyport/bin", bins));
    EXPECT_TRUE(IsInstalledFolder("C:\\Program Files (x86)\\Tallyport", bins));
    EXPECT_TRUE(IsInstalledFolder("C:\\Program Files\\Tallyport\\..\\Other", bins));
    EXPECT_FALSE(IsInstalledFolder("C:\\Program Files Extra\\Tallyport", bins));
    EXPECT_FALSE(IsInstalledFolder("D:\\Program Files\\Tallyport", bins));
    EXPECT_FALSE(IsInstalledFolder("C:\\Tallyport", bins));
    EXPECT_FALSE(IsInstalledFolder("C:\\Users\\ana\\Desktop\\Tallyport", bins));
    EXPECT_FALSE(IsInstalledFolder("", bins));
    EXPECT_FALSE(IsInstalledFolder("C:\\Program Files\\Tallyport", ""));
}

TEST(FolderRuleOnWindows, EachRuleGivesItsFolder) {
    FolderFacts facts = InstalledForUser();
    ProgramFolders chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::UserFolder);
    EXPECT_EQ(chosen.workingFolder, "C:\\Users\\ana\\AppData\\Local\\Tallyport");
    EXPECT_EQ(chosen.configPath, "C:\\Users\\ana\\AppData\\Local\\Tallyport\\Tallyport.ini");

    // No %LOCALAPPDATA%: the usual place in the profile.
    facts.dataHome.clear();
    EXPECT_EQ(ChooseProgramFolders(facts).workingFolder,
              "C:\\Users\\ana\\AppData\\Local\\Tallyport");

    facts.stateDirectory = "C:\\ProgramData\\Tallyport";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ServiceFolder);
    EXPECT_EQ(chosen.configPath, "C:\\ProgramData\\Tallyport\\Tallyport.ini");
    EXPECT_EQ(chosen.workingFolder, "C:\\ProgramData\\Tallyport");

    // Run from its own folder (a copied folder, a stick): next to the program, the service
    // too, and the working folder stays.
    facts.programFolder = "D:\\Casa\\Tallyport";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ProgramFolder);
    EXPECT_EQ(chosen.configPath, "D:\\Casa\\Tallyport\\Tallyport.ini");
    EXPECT_EQ(chosen.workingFolder, "");

    // --config wins, relative to the start folder, any spelling.
    facts.configOption = "..\\magazin2/casa.ini";
    chosen = ChooseProgramFolders(facts);
    EXPECT_EQ(chosen.rule, FolderRule::ConfigOption);
    EXPECT_EQ(chosen.configPath, "C:\\Users\\ana\\magazin2\\casa.ini");
    EXPECT_EQ(chosen.workingFolder, "C:\\Users\\ana\\magazin2");
    facts.configOption = "E:\\Magazin\\Tallyport.ini";
    EXPECT_EQ(ChooseProgramFolders(facts).workingFolder, "E:\\Magazin");
    facts.configOption = "\\\\server\\share\\casa\\Tallyport.ini";
    EXPECT_EQ(ChooseProgramFolders(facts).workingFolder, "\\\\server\\share\\casa");
}

std::string KnownFolder(const KNOWNFOLDERID& id) {
    wchar_t* path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) {
        folder = win32::AnsiPath(path);
    }
    ::CoTaskMemFree(path);
    EXPECT_FALSE(folder.empty());
    return folder;
}

class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(name, old, 32768);
        if (length > 0 && length < 32768) {
            old_ = std::wstring(old, length);
        }
        ::SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { ::SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

TEST(FolderRuleOnWindows, FactsOfTheProcessComeFromItsFileAndEnvironment) {
    // A user's folders follow the user's variables; the computer's stay where the system
    // keeps them, so that the service and every user agree on them.
    const ScopedVariable local(L"LOCALAPPDATA", L"C:\\Date\\ana");
    const ScopedVariable data(L"ProgramData", L"C:\\Date\\comune");
    const ScopedVariable files(L"ProgramFiles", L"C:\\Programe");
    FolderFacts facts = FolderFactsOfProcess(std::string("a.ini"));
    EXPECT_EQ(facts.dataHome, "C:\\Date\\ana");
    EXPECT_EQ(facts.installBinDir.substr(0, facts.installBinDir.find(';')),
              KnownFolder(FOLDERID_ProgramFiles));
    EXPECT_EQ(facts.stateDirectory, "") << "only the service has one";
    ASSERT_TRUE(facts.configOption.has_value());
    EXPECT_EQ(*facts.configOption, "a.ini");
    EXPECT_EQ(facts.startFolder, WorkingFolder());
    // This test program runs from the build folder: not installed.
    EXPECT_TRUE(PathExists(JoinPath(facts.programFolder, "tallyport-tests-folders.exe")))
        << facts.programFolder;
    EXPECT_FALSE(IsInstalledFolder(facts.programFolder, facts.installBinDir));

    facts = FolderFactsOfProcess(std::nullopt, true);
    EXPECT_EQ(facts.stateDirectory, KnownFolder(FOLDERID_ProgramData) + "\\Tallyport");
    EXPECT_EQ(DefaultServiceFolder(), facts.stateDirectory);
}

TEST(FolderRuleOnWindows, TheHelpNamesTheWindowsFolders) {
    const std::string help = FolderRuleHelp();
    EXPECT_NE(help.find("%LOCALAPPDATA%\\Tallyport"), std::string::npos) << help;
    EXPECT_NE(help.find("%ProgramData%\\Tallyport"), std::string::npos) << help;
}

}  // namespace
}  // namespace tallyport
