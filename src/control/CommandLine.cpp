#include "control/CommandLine.h"

#include <algorithm>
#include <string_view>

#include "base/BuildInfo.h"
#include "base/ProgramFolders.h"

namespace tallyport {
namespace {

constexpr char kSeeHelp[] = "\nVedeti tallyport --help.\n";

enum class Id {
    Help,
    Version,
    Headless,
    Service,
    InstallService,
    RemoveService,
    Config,
    Status,
    Json
};

struct Option {
    Id id;
    const char* shortName;  // nullptr: none
    const char* longName;
    const char* value;  // the value's name in the help; nullptr: the option takes none
    const char* text;
};

std::vector<Option> OptionsOf(const ProgramOptions& offered) {
    std::vector<Option> options{
        {Id::Help, "h", "help", nullptr, "Afiseaza acest ajutor."},
        {Id::Version, "v", "version", nullptr, "Afiseaza versiunea."},
    };
    if (offered.window) {
        options.push_back({Id::Headless, nullptr, "headless", nullptr,
                           "Fara fereastra si pictograma in tray (serviciu); mesajele merg la "
                           "iesirea de erori."});
    } else {
        options.push_back({Id::Headless, nullptr, "headless", nullptr,
                           "Serveste casele in aceasta consola; mesajele merg la iesirea de "
                           "erori. Asa porneste programul si fara optiuni."});
    }
    if (offered.service) {
        options.push_back({Id::Service, nullptr, "service", nullptr,
                           "Ruleaza ca serviciu Windows (il porneste managerul de servicii); "
                           "mesajele merg in Tallyport.log din dosarul serviciului."});
        options.push_back({Id::InstallService, nullptr, "install-service", nullptr,
                           "Inregistreaza serviciul Tallyport, pornit automat (cu --config: pe "
                           "acea configurare). Cere drepturi de administrator."});
        options.push_back({Id::RemoveService, nullptr, "remove-service", nullptr,
                           "Opreste si sterge serviciul Tallyport. Cere drepturi de "
                           "administrator."});
    }
    options.push_back({Id::Config, "c", "config", "FISIER",
                       "Fisierul de configurare; dosarul lui devine dosarul de lucru."});
    options.push_back({Id::Status, nullptr, "status", nullptr,
                       "Arata starea caselor programului care ruleaza cu aceasta configurare; "
                       "iese cu 0 cand toate porturile sunt deschise, 1 cand unul lipseste, 2 "
                       "cand programul nu ruleaza."});
    options.push_back({Id::Json, nullptr, "json", nullptr, "Cu --status: starea in format JSON."});
    return options;
}

// The option lines of the help: names in one column, texts wrapped beside them.
std::string OptionLines(const std::vector<Option>& options) {
    std::vector<std::string> names;
    std::size_t width = 0;
    for (const Option& option : options) {
        std::string name = "  ";
        name += option.shortName ? std::string("-") + option.shortName + ", " : "    ";
        name += std::string("--") + option.longName;
        if (option.value) {
            name += std::string(" <") + option.value + ">";
        }
        width = std::max(width, name.size());
        names.push_back(std::move(name));
    }
    constexpr std::size_t kLine = 79;
    const std::size_t column = width + 2;
    std::string lines;
    for (std::size_t i = 0; i < options.size(); ++i) {
        std::string line = names[i] + std::string(column - names[i].size(), ' ');
        std::string_view text = options[i].text;
        while (!text.empty()) {
            std::size_t room = kLine - column;
            std::size_t cut = text.size() <= room ? text.size() : text.rfind(' ', room);
            if (cut == std::string_view::npos || cut == 0) {
                cut = std::min(room, text.size());
            }
            line += text.substr(0, cut);
            lines += line + "\n";
            text.remove_prefix(cut);
            while (!text.empty() && text.front() == ' ') {
                text.remove_prefix(1);
            }
            line = std::string(column, ' ');
        }
    }
    return lines;
}

std::string HelpText(const std::vector<Option>& options) {
    return "Utilizare: tallyport [optiuni]\n"
           "Tine casele de marcat fiscale online cu calculatorul magazinului.\n"
           "\n" +
           FolderRuleHelp() + "\nOptiuni:\n" + OptionLines(options);
}

CommandLine Failed(const std::string& text) {
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.text = text + kSeeHelp;
    return line;
}

const Option* Find(const std::vector<Option>& options, std::string_view name, bool isShort) {
    for (const Option& option : options) {
        if (isShort ? (option.shortName && name == option.shortName) || name == option.longName
                    : name == option.longName) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const ProgramOptions& offered) {
    const std::vector<Option> options = OptionsOf(offered);
    std::vector<Id> given;
    std::optional<std::string> config;
    std::optional<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (!positional) {
                positional = argument;
            }
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name", "--name=value"; a single dash takes a short name or a whole word.
        const bool isShort = argument[1] != '-';
        std::string_view name = std::string_view(argument).substr(isShort ? 1 : 2);
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
            inlineValue = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
        }
        const Option* option = Find(options, name, isShort);
        if (option == nullptr) {
            return Failed("Optiune necunoscuta: " + std::string(name));
        }
        if (option->value) {
            if (!inlineValue) {
                if (i + 1 >= arguments.size()) {
                    return Failed("Lipseste valoarea optiunii --" + std::string(option->longName) +
                                  ".");
                }
                inlineValue = arguments[++i];
            }
            config = std::move(inlineValue);
        } else if (inlineValue) {
            return Failed("Optiunea --" + std::string(option->longName) + " nu primeste valoare.");
        }
        given.push_back(option->id);
    }
    const auto has = [&given](Id id) {
        return std::find(given.begin(), given.end(), id) != given.end();
    };

    CommandLine result;
    if (positional) {
        return Failed("Argument neasteptat: " + *positional);
    }
    if (has(Id::Help)) {
        result.action = CommandLine::Action::Help;
        result.text = HelpText(options);
        return result;
    }
    if (has(Id::Version)) {
        result.action = CommandLine::Action::Version;
        result.text = std::string(build_info::kProgramCaption) + "\n";
        return result;
    }
    if (has(Id::Json) && !has(Id::Status)) {
        return Failed("Optiunea --json se foloseste numai cu --status.");
    }
    const int modes =
        has(Id::Status) + has(Id::Service) + has(Id::InstallService) + has(Id::RemoveService);
    if (modes > 1) {
        return Failed(
            "Optiunile --status, --service, --install-service si --remove-service se exclud.");
    }
    result.status = has(Id::Status);
    result.json = has(Id::Json);
    result.service = has(Id::Service);
    result.headless = has(Id::Headless) || result.service || !offered.window;
    result.configFile = std::move(config);
    if (has(Id::InstallService)) {
        result.action = CommandLine::Action::InstallService;
    } else if (has(Id::RemoveService)) {
        result.action = CommandLine::Action::RemoveService;
    }
    return result;
}

}  // namespace tallyport
