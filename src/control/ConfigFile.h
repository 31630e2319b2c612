#pragma once

#include <string>

namespace tallyport {

class UserDialogs;

// Reading the configuration file at the program's start, in the shell's terms.
// User-interface thread only.

// The message for a configuration file that exists but cannot be read (a folder by that name,
// no right to read it): it names the file and the platform's reason.
std::string UnreadableConfigMessage(const std::string& path, int reason);

// Reads the configuration file into AppSettings. A missing file gives the defaults. A file that
// cannot be read is reported through `dialogs` with UnreadableConfigMessage and the result is
// false: the program must then end without writing anything, since the settings it holds are
// not the user's and writing them back would replace the user's file.
bool ReadConfigFile(const std::string& path, UserDialogs& dialogs);

}  // namespace tallyport
