#include "control/ConfigFile.h"

#include "base/FileReplace.h"
#include "control/UserDialogs.h"
#include "store/AppSettings.h"

namespace tallyport {

std::string UnreadableConfigMessage(const std::string& path, int reason) {
    std::string text = "Eroare: Fisierul de configurare " + path + " nu poate fi citit";
    if (reason != 0) {
        text += " (" + ErrorText(reason) + ")";
    }
    return text + "!";
}

bool ReadConfigFile(const std::string& path, UserDialogs& dialogs) {
    int reason = 0;
    if (LoadConfig(path, AppSettings, &reason)) {
        dialogs.ShowMessage(MessageKind::Error, UnreadableConfigMessage(path, reason));
        return false;
    }
    return true;
}

}  // namespace tallyport
