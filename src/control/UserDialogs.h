#pragma once

#include <optional>
#include <string>

namespace tallyport {

enum class MessageKind { Warning, Error, Information };

// Everything the shell asks of the user or tells the user: modal message boxes with one OK
// button, the Yes/No confirmation, the file-open dialog, and a line for an operator's log when
// there is nobody to answer a box. The window uses message boxes and a file dialog, the
// headless program writes to standard error, tests record and answer.
// Threads: the user-interface thread only.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // Shows the text and returns when the user has acknowledged it.
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
    // Asks a Yes/No question; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
    // Lets the user choose a file, starting in `startDir`; the full path, or nullopt when
    // cancelled.
    virtual std::optional<std::string> ChooseFile(const std::string& startDir) = 0;
    // A time-stamped line on standard error (refusals of a stop request nobody sees otherwise).
    virtual void Log(const std::string& text) = 0;
    // Closes a message box that is being shown, as if acknowledged (a stop request during
    // start-up). Does nothing when none is shown.
    virtual void DismissMessage() {}
};

}  // namespace tallyport
