#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "base/BuildInfo.h"

namespace tallyport {
namespace {

constexpr char kUsage[] =
    "Utilizare: tallyport [optiuni]\n"
    "Tine casele de marcat fiscale online cu calculatorul magazinului.\n"
    "\n"
    "Fara --config, fisierul de configurare Tallyport.ini se cauta langa program; un program\n"
    "instalat foloseste ~/.local/share/Tallyport (utilizatorul) sau /var/lib/tallyport\n"
    "(serviciul). Numele de fisiere relative se citesc din acelasi dosar.\n"
    "\n"
    "Optiuni:\n";

QString Text(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Afiseaza acest ajutor."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Afiseaza versiunea."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Fara fereastra si pictograma in tray (serviciu); mesajele merg la "
                       "iesirea de erori."));
    const QCommandLineOption config(
        {QStringLiteral("c"), QStringLiteral("config")},
        QStringLiteral("Fisierul de configurare; dosarul lui devine dosarul de lucru."),
        QStringLiteral("FISIER"));
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral("Arata starea caselor programului care ruleaza cu aceasta configurare; "
                       "iese cu 0 cand toate porturile sunt deschise, 1 cand unul lipseste, "
                       "2 cand programul nu ruleaza."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Cu --status: starea in format JSON."));
    const QList<QCommandLineOption> options{help, version, headless, config, status, json};

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption& option : options) {
        parser.addOption(option);
    }
    QStringList list;
    for (const std::string& argument : arguments) {
        list << Text(argument);
    }

    CommandLine result;
    if (!parser.parse(list)) {
        result.action = CommandLine::Action::Error;
        result.text = parser.unknownOptionNames().isEmpty()
                          ? Local(parser.errorText())
                          : "Optiune necunoscuta: " + Local(parser.unknownOptionNames().first());
        result.text += "\nVedeti tallyport --help.\n";
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Error;
        result.text = "Argument neasteptat: " + Local(parser.positionalArguments().first()) +
                      "\nVedeti tallyport --help.\n";
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        // Qt's help text begins with a usage line in English: only its option lines are used.
        const std::string text = Local(parser.helpText());
        const std::size_t header = text.find("Options:\n");
        result.text = kUsage + (header == std::string::npos ? text : text.substr(header + 9));
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = std::string(build_info::kProgramCaption) + "\n";
        return result;
    }
    if (parser.isSet(json) && !parser.isSet(status)) {
        result.action = CommandLine::Action::Error;
        result.text = "Optiunea --json se foloseste numai cu --status.\nVedeti tallyport --help.\n";
        return result;
    }
    result.status = parser.isSet(status);
    result.json = parser.isSet(json);
    result.headless = parser.isSet(headless);
    if (parser.isSet(config)) {
        result.configFile = Local(parser.value(config));
    }
    return result;
}

}  // namespace tallyport
