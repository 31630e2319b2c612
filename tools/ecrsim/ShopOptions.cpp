#include "ecrsim/ShopOptions.h"

#include <filesystem>
#include <functional>
#include <stdexcept>

#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {

namespace {

struct OptionDef {
    const char* name;
    const char* argument;  // nullptr: a flag
    const char* help;
    std::function<void(ShopOptions&, const std::string&)> apply;
};

int Integer(const std::string& text, int lowest, int highest) {
    const auto value = ParseWhole(text);
    if (!value || *value < lowest || *value > highest) {
        throw std::invalid_argument("'" + text + "' is not a whole number from " +
                                    std::to_string(lowest) + " to " + std::to_string(highest));
    }
    return static_cast<int>(*value);
}

double Real(const std::string& text) {
    const auto value = ParseNumber(text);
    if (!value) {
        throw std::invalid_argument("'" + text + "' is not a number");
    }
    return *value;
}

int Rate(const std::string& text) {
    static constexpr int kRates[] = {0, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    const auto value = ParseWhole(text);
    for (int rate : kRates) {
        if (value && *value == rate) {
            return rate;
        }
    }
    throw std::invalid_argument("'" + text +
                                "' is not a line rate (0, 1200, 2400, 4800, 9600, 19200, 38400, "
                                "57600 or 115200)");
}

bool OnOff(const std::string& text) {
    if (text == "on" || text == "1" || text == "yes") {
        return true;
    }
    if (text == "off" || text == "0" || text == "no") {
        return false;
    }
    throw std::invalid_argument("'" + text + "' is neither on nor off");
}

const std::vector<OptionDef>& OptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--registers", "N", "number of registers to simulate (default 3)",
         [](ShopOptions& o, const std::string& v) { o.registers = Integer(v, 1, 64); }},
        {"--first-number", "L", "logical number of the first register (default 1)",
         [](ShopOptions& o, const std::string& v) { o.firstNumber = Integer(v, 1, 9999); }},
        {"--fiscal-prefix", "TEXT",
         "fiscal series = TEXT and the logical number in 8 digits (default DA)",
         [](ShopOptions& o, const std::string& v) { o.fiscalPrefix = v; }},
        {"--ecr-list", "FILE",
         "register list to write (default: ECRList of the configuration, in the working folder)",
         [](ShopOptions& o, const std::string& v) { o.ecrListPath = v; }},
        {"--rate", "BAUD",
         "line rate of every register (1200 to 115200), written to the register list; the "
         "simulated line carries the bytes at that rate, 8 data bits, no parity, 1 stop bit; 0: "
         "bare pseudo-terminals without line time (default 9600)",
         [](ShopOptions& o, const std::string& v) { o.rate = Rate(v); }},
        {"--devices", "PORT,...",
         "simulate one register on each of these real serial ports instead of pseudo-terminals "
         "(a second adapter joined to the program's port by a null-modem cable), at --rate; the "
         "register list is then the program's own and is not written",
         [](ShopOptions& o, const std::string& v) {
             o.devices.clear();
             std::size_t start = 0;
             while (start <= v.size()) {
                 const std::size_t comma = std::min(v.find(',', start), v.size());
                 if (comma == start) {
                     throw std::invalid_argument("'" + v + "' holds an empty port name");
                 }
                 o.devices.push_back(v.substr(start, comma - start));
                 start = comma + 1;
             }
         }},
        {"--no-ecr-list", nullptr, "do not write a register list; only print the ports",
         [](ShopOptions& o, const std::string&) { o.writeEcrList = false; }},
        {"--config", "FILE",
         "the program's configuration file (Tallyport.ini) to take the file names and settings "
         "from",
         [](ShopOptions& o, const std::string& v) { o.configPath = v; }},
        {"--dir", "DIR",
         "the program's working folder: relative file names resolve against it (default .)",
         [](ShopOptions& o, const std::string& v) { o.workDir = v; }},
        {"--plu", "FILE", "article file (default: PLU of the configuration, else PLU.txt)",
         [](ShopOptions& o, const std::string& v) { o.pluPath = v; }},
        {"--tran", "FILE", "transaction file (default: ReceiptDetail, else Tran.txt)",
         [](ShopOptions& o, const std::string& v) { o.tranPath = v; }},
        {"--bon", "FILE", "receipt-closing file (default: ReceiptMaster, else Bon.txt)",
         [](ShopOptions& o, const std::string& v) { o.bonPath = v; }},
        {"--prefix", "N", "scale-barcode prefix (default: Prefix of the configuration, else 24)",
         [](ShopOptions& o, const std::string& v) { o.scalePrefix = Integer(v, 0, 99999); }},
        {"--rec-discount", "on|off", "the program records discount lines (default on)",
         [](ShopOptions& o, const std::string& v) { o.recDiscount = OnOff(v); }},
        {"--rec-amount", "on|off",
         "the program keeps the first amount of every closing of a receipt (default on)",
         [](ShopOptions& o, const std::string& v) { o.recAmount = OnOff(v); }},
        {"--rec-decimals", "on|off", "amounts with decimals in replies and files (default off)",
         [](ShopOptions& o, const std::string& v) { o.recDecimals = OnOff(v); }},
        {"--sep-files", "on|off", "one pair of output files per register (default off)",
         [](ShopOptions& o, const std::string& v) { o.recSepFiles = OnOff(v); }},
        {"--card-min", "AMOUNT", "lowest card payment accepted (default 0)",
         [](ShopOptions& o, const std::string& v) { o.cardMin = Real(v); }},
        {"--card-max", "AMOUNT", "highest card payment accepted (default 100000000)",
         [](ShopOptions& o, const std::string& v) { o.cardMax = Real(v); }},
        {"--seed", "N", "seed of the shop's choices; the same seed plays the same receipts",
         [](ShopOptions& o, const std::string& v) {
             const auto seed = ParseWhole(v);
             if (!seed || *seed < 0) {
                 throw std::invalid_argument("'" + v + "' is not a seed");
             }
             o.seed = static_cast<std::uint64_t>(*seed);
             o.seedGiven = true;
         }},
        {"--seconds", "S", "run time in seconds; 0 runs until SIGINT or SIGTERM (default 30)",
         [](ShopOptions& o, const std::string& v) {
             o.seconds = Real(v);
             if (o.seconds < 0) {
                 throw std::invalid_argument("the run time cannot be negative");
             }
         }},
        {"--receipts", "N", "stop once N receipts are closed, counting all registers",
         [](ShopOptions& o, const std::string& v) { o.receipts = Integer(v, 0, 100000000); }},
        {"--pace", "MS", "mean pause of a register between two messages (default 100)",
         [](ShopOptions& o, const std::string& v) { o.paceMs = Integer(v, 0, 600000); }},
        {"--max-items", "N", "most articles attempted per receipt (default 6)",
         [](ShopOptions& o, const std::string& v) { o.maxItems = Integer(v, 1, 1000); }},
        {"--unknown", "PERCENT", "share of article requests with unknown codes (default 5)",
         [](ShopOptions& o, const std::string& v) { o.unknownPercent = Integer(v, 0, 100); }},
        {"--unconfirmed", "PERCENT", "share of article replies left unconfirmed (default 5)",
         [](ShopOptions& o, const std::string& v) { o.unconfirmedPercent = Integer(v, 0, 100); }},
        {"--discounts", "PERCENT", "share of receipt steps that are discounts (default 10)",
         [](ShopOptions& o, const std::string& v) { o.discountPercent = Integer(v, 0, 100); }},
        {"--voids", "PERCENT", "share of receipt steps that void the last line (default 6)",
         [](ShopOptions& o, const std::string& v) { o.voidPercent = Integer(v, 0, 100); }},
        {"--cards", "PERCENT", "share of receipts paid by card (default 25)",
         [](ShopOptions& o, const std::string& v) { o.cardPercent = Integer(v, 0, 100); }},
        {"--answer-timeout", "MS",
         "wait for a poll, and then for the program's answer, at most this long (default 2500)",
         [](ShopOptions& o, const std::string& v) { o.answerTimeoutMs = Integer(v, 100, 600000); }},
        {"--gap", "MS",
         "a register not polled this long means the program may have restarted (default 2000)",
         [](ShopOptions& o, const std::string& v) { o.gapMs = Integer(v, 100, 600000); }},
        {"--kills-file", "PATH",
         "instants at which the program was killed (steady clock, nanoseconds, one a line), or "
         "spans \"BEGIN END\" of stops that took a while",
         [](ShopOptions& o, const std::string& v) { o.killsFile = v; }},
        {"--finish-receipts", nullptr,
         "at the end (run time, receipt count, SIGINT, SIGTERM) start no new receipt and close "
         "the open ones before exiting",
         [](ShopOptions& o, const std::string&) { o.finishReceipts = true; }},
        {"--finish-timeout", "S", "give up closing open receipts after S seconds (default 20)",
         [](ShopOptions& o, const std::string& v) { o.finishTimeoutS = Integer(v, 1, 86400); }},
        {"--verify", nullptr,
         "at the end, check the lines appended to the transaction and receipt-closing files "
         "against what was sold; exit status 1 on any difference",
         [](ShopOptions& o, const std::string&) { o.verify = true; }},
        {"--settle", "MS",
         "let the program finish writing: retry the check this long (default 4000)",
         [](ShopOptions& o, const std::string& v) { o.settleMs = Integer(v, 0, 600000); }},
        {"--time-slack", "S",
         "accept record dates and times this many seconds around the exchange (default 60)",
         [](ShopOptions& o, const std::string& v) { o.timeSlackS = Integer(v, 0, 86400); }},
        {"--quiet", nullptr, "print no line per exchange, only notes, problems and the summary",
         [](ShopOptions& o, const std::string&) { o.quiet = true; }},
        {"--status-file", "FILE",
         "keep FILE holding the run's state: running, paused, finishing or finished",
         [](ShopOptions& o, const std::string& v) { o.statusFile = v; }},
    };
    return defs;
}

constexpr std::size_t kHelpColumn = 26;
constexpr std::size_t kHelpWidth = 92;

// Word-wraps an option's help to the width, continuing lines at the help column.
std::string Wrapped(const std::string& help) {
    std::string out;
    std::size_t column = kHelpColumn;
    std::size_t start = 0;
    while (start < help.size()) {
        std::size_t end = help.find(' ', start);
        if (end == std::string::npos) {
            end = help.size();
        }
        const std::string word = help.substr(start, end - start);
        if (column > kHelpColumn && column + 1 + word.size() > kHelpWidth) {
            out += "\n" + std::string(kHelpColumn, ' ');
            column = kHelpColumn;
        } else if (column > kHelpColumn) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        start = end + 1;
    }
    return out;
}

}  // namespace

std::optional<ShopOptions> ParseShopOptions(const std::vector<std::string>& args,
                                            std::string& error, bool& help) {
    ShopOptions options;
    help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (const auto equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            inlineValue = true;
        }
        if (name == "--help" || name == "-h") {
            help = true;
            return options;
        }
        const OptionDef* def = nullptr;
        for (const OptionDef& s : OptionDefs()) {
            if (name == s.name) {
                def = &s;
            }
        }
        if (def == nullptr) {
            error = "unknown option " + args[i] + " (see --help)";
            return std::nullopt;
        }
        if (def->argument != nullptr && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value " + def->argument;
                return std::nullopt;
            }
            value = args[++i];
        } else if (def->argument == nullptr && inlineValue) {
            error = name + " takes no value";
            return std::nullopt;
        }
        try {
            def->apply(options, value);
        } catch (const std::invalid_argument& e) {
            error = name + ": " + e.what();
            return std::nullopt;
        }
    }
    if (!options.devices.empty()) {
        if (options.rate == 0) {
            error = "--devices: a real line needs a rate (--rate)";
            return std::nullopt;
        }
        options.registers = static_cast<int>(options.devices.size());
        options.writeEcrList = false;
    }
    return options;
}

std::string ShopHelpText() {
    std::string text =
        "Usage: tallyport-ecrsim [options]\n"
        "\n"
        "Simulates a shop's cash registers on pseudo-terminals for the Tallyport program: writes\n"
        "a register list naming their ports, then sells articles from the article file (by PLU\n"
        "code, EAN barcode and scale barcode, with some unknown codes), confirms most replies,\n"
        "adds discounts and voids, checks card payments and closes receipts with the payment\n"
        "types, at the chosen pace. One line per exchange: time, register, message type, what\n"
        "was sent => what came back, duration. A summary follows at the end and, with --verify,\n"
        "the check of the back-office files against what the program acknowledged.\n"
        "\n"
        "Options:\n";
    for (const OptionDef& s : OptionDefs()) {
        std::string head = std::string("  ") + s.name;
        if (s.argument != nullptr) {
            head += std::string(" ") + s.argument;
        }
        if (head.size() < kHelpColumn) {
            head.append(kHelpColumn - head.size(), ' ');
        } else {
            head += "\n" + std::string(kHelpColumn, ' ');
        }
        text += head + Wrapped(s.help) + "\n";
    }
    text +=
        "  --help                  this text\n"
        "\n"
        "Signals: SIGINT or SIGTERM end the run (with --finish-receipts the open receipts are\n"
        "closed first; a second signal leaves at once). SIGUSR1 pauses: the open receipts are\n"
        "closed, then no register starts a new one and the status file reads \"paused\" (the\n"
        "moment to stop or restart the program). SIGUSR2 resumes.\n"
        "\n"
        "Exit status: 0 done; 1 a check failed (with --verify: a difference in the files or in an\n"
        "answer); 2 bad options or files; 3 receipts left open although --finish-receipts was\n"
        "given.\n";
    return text;
}

int ListedRate(int rate) {
    return rate > 0 ? rate : 9600;
}

std::string ResolvePath(const std::string& workDir, const std::string& name) {
    const std::filesystem::path path(name);
    if (path.is_absolute() || workDir.empty() || workDir == ".") {
        return name;
    }
    return (std::filesystem::path(workDir) / path).string();
}

ShopSettings ResolveSettings(const ShopOptions& options) {
    ShopSettings settings;
    if (!options.configPath.empty() && !ReadConfigFile(options.configPath, settings)) {
        throw std::runtime_error("cannot read the configuration file " + options.configPath);
    }
    // Names from the configuration are the program's, relative to its working folder; names
    // given on the command line are the user's, relative to the current folder.
    auto resolve = [&](const std::optional<std::string>& given, const std::string& configured) {
        return given ? *given : ResolvePath(options.workDir, configured);
    };
    settings.pluFile = resolve(options.pluPath, settings.pluFile);
    settings.receiptDetail = resolve(options.tranPath, settings.receiptDetail);
    settings.receiptMaster = resolve(options.bonPath, settings.receiptMaster);
    settings.ecrList =
        resolve(options.ecrListPath.empty() ? std::nullopt : std::optional(options.ecrListPath),
                settings.ecrList);
    settings.scalePrefix = options.scalePrefix.value_or(settings.scalePrefix);
    settings.recDiscount = options.recDiscount.value_or(settings.recDiscount);
    settings.recAmount = options.recAmount.value_or(settings.recAmount);
    settings.recDecimals = options.recDecimals.value_or(settings.recDecimals);
    settings.recSepFiles = options.recSepFiles.value_or(settings.recSepFiles);
    settings.cardMin = options.cardMin.value_or(settings.cardMin);
    settings.cardMax = options.cardMax.value_or(settings.cardMax);
    return settings;
}

}  // namespace tallyport::ecrsim
