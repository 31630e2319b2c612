#pragma once

#include "control/ShellView.h"

namespace tallyport {

class ConsoleLog;

// The view of the program without a window: the settings stay as the configuration file gave
// them, and the connection state is logged.
class HeadlessShell final : public ShellView {
public:
    explicit HeadlessShell(ConsoleLog& log) : log_(log) {}

    void PrepareStartup() override {}
    void ShowSettings(const AppSettingsRecord&) override {}
    void TakeSettings(AppSettingsRecord&) override {}
    void ShowRegisterList() override {}
    void ShowConnectState(bool connected) override;

private:
    ConsoleLog& log_;
};

}  // namespace tallyport
