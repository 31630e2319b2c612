#include "app/StatusCommand.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

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
    QJsonObject document;
};

std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The first file in `folders` whose writer still runs.
std::optional<Found> FindLiveStatus(const std::string& configPath,
                                    const std::vector<std::string>& folders) {
    const std::string name = StatusFileName(configPath);
    for (const std::string& folder : folders) {
        std::optional<std::string> bytes;
        try {
            bytes = ReadFileBytes(folder + "/" + name);
        } catch (const std::exception&) {
            continue;  // unreadable: as good as absent
        }
        if (!bytes) {
            continue;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(
            QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())));
        if (!doc.isObject()) {
            continue;
        }
        const QJsonObject object = doc.object();
        const auto pid = static_cast<long>(object["pid"].toInteger());
        const auto start = static_cast<std::uint64_t>(object["process_start"].toInteger());
        if (ProcessRunning(pid, start)) {
            return Found{std::move(*bytes), object};
        }
    }
    return std::nullopt;
}

std::vector<RegisterStatus> Registers(const QJsonObject& document, std::int64_t age) {
    std::vector<RegisterStatus> registers;
    for (const QJsonValue& value : document["registers"].toArray()) {
        const QJsonObject o = value.toObject();
        RegisterStatus r;
        r.logicalNb = o["logical"].toInt();
        r.port = Local(o["port"].toString());
        r.state = PortStateFromName(Local(o["state"].toString())).value_or(PortState::Stopped);
        if (!o["last_frame_age_s"].isNull()) {
            // The age as of now, not as of the writing.
            r.lastFrameAge = std::chrono::seconds(o["last_frame_age_s"].toInteger() + age);
        }
        r.receipts = static_cast<std::uint64_t>(o["receipts"].toInteger());
        r.sales = static_cast<std::uint64_t>(o["sales"].toInteger());
        r.lateSales = static_cast<std::uint64_t>(o["late_sales"].toInteger());
        r.pendingLines = static_cast<std::size_t>(o["pending_lines"].toInteger());
        r.losses = static_cast<std::uint64_t>(o["losses"].toInteger());
        r.lastError = Local(o["last_error"].toString());
        // Absent in the files of earlier versions: not held.
        r.journalHeld = o["journal_held"].toBool(false);
        r.journalError = Local(o["journal_error"].toString());
        r.unreadableClosings = static_cast<std::size_t>(o["unreadable_closings"].toInteger());
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
    const std::int64_t written = found->document["written"].toInteger();
    const std::int64_t age = now > written ? now - written : 0;
    const std::vector<RegisterStatus> registers = Registers(found->document, age);
    report.exitCode = age > kStaleSeconds ? 1 : StatusExitCode(registers);
    if (json) {
        report.text = found->bytes;
        return report;
    }
    report.text = "Tallyport ruleaza (pid " + std::to_string(found->document["pid"].toInteger()) +
                  "), " + (found->document["connected"].toBool() ? "conectat" : "deconectat") +
                  "; configurare: " + configPath + "\n";
    if (age > kStaleSeconds) {
        report.text += "Atentie: starea nu a mai fost scrisa de " + std::to_string(age) + " s.\n";
    }
    report.text += StatusSummary(registers) + "\n\n" + StatusTable(registers);
    return report;
}

}  // namespace tallyport
