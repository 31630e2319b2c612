#include "control/StatusCommand.h"

#include <optional>

#include "base/Paths.h"
#include "control/JsonValue.h"
#include "control/ProcessIdentity.h"
#include "control/StatusFile.h"
#include "control/StatusText.h"
#include "store/FileBytes.h"

namespace tallyport {
namespace {

// A status older than this means the program no longer looks at its registers.
constexpr std::int64_t kStaleSeconds = 10;

struct Found {
    std::string bytes;
    JsonValue document;
};

// The first file in `folders` whose writer still runs.
std::optional<Found> FindLiveStatus(const std::string& configPath,
                                    const std::vector<std::string>& folders) {
    const std::string name = StatusFileName(configPath);
    for (const std::string& folder : folders) {
        std::optional<std::string> bytes;
        try {
            bytes = ReadFileBytes(JoinPath(folder, name));
        } catch (const std::exception&) {
            continue;  // unreadable: as good as absent
        }
        if (!bytes) {
            continue;
        }
        std::optional<JsonValue> document = JsonValue::Parse(*bytes);
        if (!document || !document->IsObject()) {
            continue;
        }
        const auto pid = static_cast<long>((*document)["pid"].Integer());
        const auto start = static_cast<std::uint64_t>((*document)["process_start"].Integer());
        if (ProcessRunning(pid, start)) {
            return Found{std::move(*bytes), std::move(*document)};
        }
    }
    return std::nullopt;
}

std::vector<RegisterStatus> Registers(const JsonValue& document, std::int64_t age) {
    std::vector<RegisterStatus> registers;
    for (const JsonValue& o : document["registers"].Items()) {
        RegisterStatus r;
        r.logicalNb = static_cast<int>(o["logical"].Integer());
        r.port = o["port"].Text();
        r.state = PortStateFromName(o["state"].Text()).value_or(PortState::Stopped);
        if (o["last_frame_age_s"].kind() == JsonValue::Kind::Number) {
            // The age as of now, not as of the writing.
            r.lastFrameAge = std::chrono::seconds(o["last_frame_age_s"].Integer() + age);
        }
        r.receipts = static_cast<std::uint64_t>(o["receipts"].Integer());
        r.sales = static_cast<std::uint64_t>(o["sales"].Integer());
        r.lateSales = static_cast<std::uint64_t>(o["late_sales"].Integer());
        r.pendingLines = static_cast<std::size_t>(o["pending_lines"].Integer());
        r.losses = static_cast<std::uint64_t>(o["losses"].Integer());
        r.lastError = o["last_error"].Text();
        // Absent in the files of earlier versions: not held.
        r.journalHeld = o["journal_held"].Bool(false);
        r.journalError = o["journal_error"].Text();
        r.unreadableClosings = static_cast<std::size_t>(o["unreadable_closings"].Integer());
        registers.push_back(std::move(r));
    }
    return registers;
}

}  // namespace

StatusReport ReadStatus(const std::string& configPath, const std::vector<std::string>& folders,
                        bool json, std::int64_t now) {
    StatusReport report;
    const std::optional<Found> found = FindLiveStatus(configPath, folders);
    if (!found) {
        report.exitCode = 2;
        report.text = json ? "{\"program\":\"tallyport\",\"running\":false}\n"
                           : "Tallyport nu ruleaza (configurare: " + configPath + ").\n";
        return report;
    }
    const std::int64_t written = found->document["written"].Integer();
    const std::int64_t age = now > written ? now - written : 0;
    const std::vector<RegisterStatus> registers = Registers(found->document, age);
    report.exitCode = age > kStaleSeconds ? 1 : StatusExitCode(registers);
    if (json) {
        report.text = found->bytes;
        return report;
    }
    report.text = "Tallyport ruleaza (pid " + std::to_string(found->document["pid"].Integer()) +
                  "), " + (found->document["connected"].Bool() ? "conectat" : "deconectat") +
                  "; configurare: " + configPath + "\n";
    if (age > kStaleSeconds) {
        report.text += "Atentie: starea nu a mai fost scrisa de " + std::to_string(age) + " s.\n";
    }
    report.text += StatusSummary(registers) + "\n\n" + StatusTable(registers);
    return report;
}

}  // namespace tallyport
