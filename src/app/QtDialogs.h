#pragma once

#include <QPointer>
#include <QString>

#include "control/ConsoleOutput.h"
#include "control/UserDialogs.h"

class QMessageBox;
class QWidget;

namespace tallyport {

// The window's dialogs: application-modal message boxes, the Yes/No question, the shared
// file-open dialog, and log lines on standard error. User-interface thread only.
class QtDialogs final : public UserDialogs {
public:
    explicit QtDialogs(ConsoleLog& log) : log_(log) {}

    // Boxes are centred on this window while it is visible, on the screen otherwise.
    void SetWindow(QWidget* window) { window_ = window; }

    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> ChooseFile(const std::string& startDir) override;
    void Log(const std::string& text) override;
    void DismissMessage() override;

private:
    QWidget* Parent() const;

    ConsoleLog& log_;
    QPointer<QWidget> window_;
    QPointer<QMessageBox> shown_;
};

}  // namespace tallyport
