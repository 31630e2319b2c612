#pragma once

#include "store/AppSettings.h"

namespace tallyport {

// What the connection control needs of the window: the setting controls, the register grid
// and the connected/disconnected look. The headless program implements it without controls.
// Threads: the user-interface thread only.
class ShellView {
public:
    virtual ~ShellView() = default;

    // Start-up: the window stays hidden, the tray icon shows the disconnected image, the file
    // dialog starts in the program's folder.
    virtual void PrepareStartup() = 0;
    // Puts the settings into the setting controls.
    virtual void ShowSettings(const AppSettingsRecord& settings) = 0;
    // Takes the settings back from the controls; a text that does not convert leaves its
    // setting unchanged.
    virtual void TakeSettings(AppSettingsRecord& settings) = 0;
    // The register list has been read again (or emptied): show its rows.
    virtual void ShowRegisterList() = 0;
    // Enables the actions and controls of the given state and shows its images and captions.
    virtual void ShowConnectState(bool connected) = 0;
};

}  // namespace tallyport
