#include "control/ConsoleOutput.h"

#include "base/FileIo.h"

namespace tallyport {
namespace {

// Lines are single lines: a line break inside a message would split it in a log reader.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

const char* KindTag(MessageKind kind) {
    switch (kind) {
        case MessageKind::Warning:
            return "[avertizare] ";
        case MessageKind::Error:
            return "[eroare] ";
        case MessageKind::Information:
            return "[informatie] ";
    }
    return "";
}

const char* IconTag(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Warning:
            return "[avertizare] ";
        case NoticeIcon::Error:
            return "[eroare] ";
        case NoticeIcon::Information:
        case NoticeIcon::None:
            break;
    }
    return "[notificare] ";
}

}  // namespace

ConsoleLog::ConsoleLog(int fd, const LocalClock& clock, Copy copy)
    : fd_(fd), clock_(clock), copy_(std::move(copy)) {}

void ConsoleLog::Line(const std::string& text) {
    const std::string one = OneLine(text);
    std::string line = FormatTimestamp(clock_.Now());
    line += ' ';
    line += one;
    line += '\n';
    std::lock_guard lock(mutex_);
    (void)WriteAll(fd_, line);  // on a failure there is nowhere left to report it
    if (copy_) {
        copy_(one);
    }
}

void ConsoleDialogs::ShowMessage(MessageKind kind, const std::string& text) {
    log_.Line(KindTag(kind) + text);
}

bool ConsoleDialogs::Confirm(const std::string& text) {
    log_.Line("[confirmare] " + text + " Da");
    return true;
}

std::optional<std::string> ConsoleDialogs::ChooseFile(const std::string&) {
    return std::nullopt;
}

void ConsoleDialogs::Log(const std::string& text) {
    log_.Line(text);
}

void ConsoleNoticeSink::ShowNotice(const std::string& title, const std::string& text, int,
                                   NoticeIcon icon) {
    log_.Line(IconTag(icon) + title + ": " + text);
}

}  // namespace tallyport
