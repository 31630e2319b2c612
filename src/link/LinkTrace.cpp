#include "link/LinkTrace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/FileIo.h"
#include "base/LocalClock.h"

namespace tallyport {

bool LinkTraceRequested() {
    const char* value = std::getenv(kLinkTraceVariable);
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

std::string FormatTraceLine(std::chrono::system_clock::time_point when, int logicalNb,
                            TraceDirection direction, std::string_view bytes) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const std::tm local = LocalCalendar(seconds);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()) % 1000;
    char head[96];
    std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d ECR%d ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(ms.count()), logicalNb);
    std::string line = head;
    if (direction == TraceDirection::Note) {
        // A note is the link's or the port's own text, printable by construction.
        return line + "note: " + std::string(bytes);
    }
    line += direction == TraceDirection::Sent ? "sent " : "recv ";
    line += std::to_string(bytes.size()) + ":";
    std::string text;
    static const char kHex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        line += ' ';
        line += kHex[u >> 4];
        line += kHex[u & 0x0F];
        text += (u >= 0x20 && u < 0x7F) ? c : '.';
    }
    line += "  |" + text + "|";
    return line;
}

TraceHook MakeLinkTrace(int logicalNb, int fd) {
    return [logicalNb, fd](TraceDirection direction, std::string_view bytes) {
        const std::string line =
            FormatTraceLine(std::chrono::system_clock::now(), logicalNb, direction, bytes) + "\n";
        (void)WriteAll(fd, line);  // nowhere to trace to: the line goes on without it
    };
}

}  // namespace tallyport
