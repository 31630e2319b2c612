#include "control/StatusFile.h"

#include <cstdio>
#include <sstream>

#include "base/BuildInfo.h"
#include "base/FileReplace.h"
#include "base/Paths.h"
#include "control/StatusText.h"
#include "control/UsableFolder.h"
#include "store/FileBytes.h"

namespace tallyport {
namespace {

// The length of the UTF-8 sequence that starts at `i`, or 0 when the bytes there are not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
    const unsigned char next = byte(i + 1);
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90)) {
        return 0;
    }
    return length;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t length = Utf8Length(text, i); length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            // A byte of the 8-bit code page: kept as the character of the same code.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        }
        ++i;
    }
    return out + "\"";
}

std::string RegisterJson(const RegisterStatus& r) {
    std::ostringstream out;
    out << "{\"logical\":" << r.logicalNb << ",\"port\":" << Quoted(r.port)
        << ",\"state\":" << Quoted(PortStateName(r.state)) << ",\"last_frame_age_s\":";
    if (r.lastFrameAge) {
        out << r.lastFrameAge->count();
    } else {
        out << "null";
    }
    // The last error: why the port is not open, else a request handler's last error.
    out << ",\"receipts\":" << r.receipts << ",\"sales\":" << r.sales
        << ",\"pending_lines\":" << r.pendingLines << ",\"losses\":" << r.losses
        << ",\"last_error\":" << Quoted(r.portError.empty() ? r.lastError : r.portError);
    // Added after the fields above, which keep their meaning ("state" is the port's): a reader
    // that does not know these sees the register as before.
    out << ",\"journal_held\":" << (HeldByJournal(r) ? "true" : "false")
        << ",\"journal_error\":" << Quoted(HeldByJournal(r) ? r.journalError : std::string())
        << ",\"unreadable_closings\":" << r.unreadableClosings;
    // Sales whose confirmation came late (also counted in "sales"); a served register that has
    // sent no frame for kSilentAfter (information: an idle register is silent).
    out << ",\"late_sales\":" << r.lateSales << ",\"silent\":" << (SilentFor(r) ? "true" : "false")
        << "}";
    return out.str();
}

}  // namespace

std::string StatusJson(const StatusFileHeader& header,
                       const std::vector<RegisterStatus>& registers) {
    std::ostringstream out;
    out << "{\"program\":\"tallyport\",\"version\":\"" << build_info::kVersion
        << "\",\"pid\":" << header.pid << ",\"process_start\":" << header.processStart
        << ",\"config\":" << Quoted(header.config)
        << ",\"connected\":" << (header.connected ? "true" : "false")
        << ",\"written\":" << header.written << ",\"registers\":[";
    for (std::size_t i = 0; i < registers.size(); ++i) {
        out << (i == 0 ? "" : ",") << RegisterJson(registers[i]);
    }
    out << "]}\n";
    return out.str();
}

std::vector<std::string> StatusFolders(const char* runtimeDirectory, const char* xdgRuntimeDir) {
    std::vector<std::string> folders;
    if (runtimeDirectory && *runtimeDirectory) {
        // systemd may give several folders separated by ':'; the first is the service's own.
        std::string first(runtimeDirectory);
        folders.push_back(first.substr(0, first.find(':')));
    }
    if (xdgRuntimeDir && *xdgRuntimeDir) {
        folders.push_back(std::string(xdgRuntimeDir) + "/tallyport");
    }
    folders.push_back("/run/tallyport");
    return folders;
}

std::string StatusFileName(const std::string& configPath) {
    // Every spelling of one configuration file names one status file.
    const std::string key = ComparablePath(configPath);
    // FNV-1a, 64 bits: stable across builds and platforms, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "status-%016llx.json", static_cast<unsigned long long>(hash));
    return name;
}

std::string StatusFileForWriting(const std::string& configPath,
                                 const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (UsableFolder(folder)) {
            return JoinPath(folder, StatusFileName(configPath));
        }
    }
    return {};
}

bool WriteStatusFile(const std::string& path, const std::string& json) {
    // The runtime folder is the program's own, so the file is always replaced whole (a temporary
    // file renamed over it): a reader never sees half a document.
    return ReplaceFile(path, json).Ok();
}

}  // namespace tallyport
