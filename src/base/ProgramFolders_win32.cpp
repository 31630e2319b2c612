#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <shlobj.h>

#include "base/Paths.h"
#include "base/ProgramFolders.h"
#include "base/Win32Text.h"

namespace tallyport {
namespace {

// A variable of the environment as bytes of the code page (the wide form, so that a folder
// the code page cannot name comes by its short name instead of with "?" in it).
std::string Environment(const wchar_t* name) {
    const DWORD length = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::wstring value(length, L'\0');
    const DWORD written = ::GetEnvironmentVariableW(name, value.data(), length);
    if (written == 0 || written >= length) {
        return {};
    }
    value.resize(written);
    return win32::AnsiPath(value);
}

std::string KnownFolder(const KNOWNFOLDERID& id) {
    wchar_t* path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) {
        folder = win32::AnsiPath(path);
    }
    ::CoTaskMemFree(path);
    return folder;
}

// A user's own folder: the variable, which a user may point elsewhere, or where it is unset
// (a service's environment is small) the known folder.
std::string UserFolder(const wchar_t* variable, const KNOWNFOLDERID& id) {
    std::string folder = Environment(variable);
    return folder.empty() ? KnownFolder(id) : folder;
}

// A folder of the computer's, which every account must find at the same place (the service's
// and a user's look at one status file): the known folder, the variable only without it.
std::string SharedFolder(const KNOWNFOLDERID& id, const wchar_t* variable) {
    std::string folder = KnownFolder(id);
    return folder.empty() ? Environment(variable) : folder;
}

std::string ProgramFileFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD written =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (written == 0) {
            return {};
        }
        if (written < path.size()) {
            path.resize(written);
            break;
        }
        path.resize(path.size() * 2);
    }
    return ParentFolder(win32::AnsiPath(path));
}

bool Inside(const std::string& folder, const std::string& root) {
    if (root.empty()) {
        return false;
    }
    const std::string key = ComparablePath(folder);
    std::string prefix = ComparablePath(root);
    if (key == prefix) {
        return true;
    }
    if (prefix.back() != '\\') {
        prefix += '\\';
    }
    return key.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool IsInstalledFolder(const std::string& programFolder, const std::string& installBinDir) {
    if (programFolder.empty()) {
        return false;
    }
    // Program Files, and for a program installed elsewhere by hand the 32-bit one: a list
    // separated by ";" as in PATH.
    std::size_t start = 0;
    while (start <= installBinDir.size()) {
        const std::size_t end = std::min(installBinDir.find(';', start), installBinDir.size());
        if (Inside(programFolder, installBinDir.substr(start, end - start))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string UserFolderOf(const FolderFacts& facts) {
    const std::string base = !facts.dataHome.empty() && IsAbsolutePath(facts.dataHome)
                                 ? facts.dataHome
                                 : JoinPath(JoinPath(facts.home, "AppData"), "Local");
    return JoinPath(NormalPath(base), kUserFolderName);
}

std::string ServiceFolderOf(const FolderFacts& facts) {
    return facts.stateDirectory.empty() ? std::string() : NormalPath(facts.stateDirectory);
}

FolderFacts FolderFactsOfProcess(std::optional<std::string> configOption, bool service) {
    FolderFacts facts;
    facts.programFolder = ProgramFileFolder();
    facts.installBinDir = SharedFolder(FOLDERID_ProgramFiles, L"ProgramFiles");
    const std::string x86 = SharedFolder(FOLDERID_ProgramFilesX86, L"ProgramFiles(x86)");
    if (!x86.empty()) {
        facts.installBinDir += ";" + x86;
    }
    facts.configOption = std::move(configOption);
    facts.startFolder = WorkingFolder();
    // The service control manager sets no variable: the command line says it.
    if (service) {
        facts.stateDirectory = DefaultServiceFolder();
    }
    facts.dataHome = UserFolder(L"LOCALAPPDATA", FOLDERID_LocalAppData);
    facts.home = UserFolder(L"USERPROFILE", FOLDERID_Profile);
    return facts;
}

std::string DefaultServiceFolder() {
    const std::string data = SharedFolder(FOLDERID_ProgramData, L"ProgramData");
    return data.empty() ? std::string() : JoinPath(data, kUserFolderName);
}

std::string FolderRuleHelp() {
    return "Fara --config, fisierul de configurare Tallyport.ini se cauta langa program;\n"
           "un program instalat in Program Files foloseste %LOCALAPPDATA%\\Tallyport\n"
           "(utilizatorul) sau %ProgramData%\\Tallyport (serviciul). Numele de fisiere\n"
           "relative se citesc din acelasi dosar.\n";
}

}  // namespace tallyport
