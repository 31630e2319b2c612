#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ecrsim/ShopSettings.h"

namespace tallyport::ecrsim {

// Everything the command line decides.
struct ShopOptions {
    // The registers.
    int registers = 3;
    int firstNumber = 1;
    std::string fiscalPrefix = "DA";
    std::string ecrListPath;  // empty: the configuration's ECRList in the working folder
    bool writeEcrList = true;
    int rate = 9600;  // baud of every register's line, in the list and on the line; 0: no line time
    std::vector<std::string> devices;  // real serial ports, one register each, instead of ptys

    // The program's files and settings.
    std::string configPath;
    std::string workDir = ".";
    std::optional<std::string> pluPath, tranPath, bonPath;
    std::optional<int> scalePrefix;
    std::optional<bool> recDiscount, recAmount, recDecimals, recSepFiles;
    std::optional<double> cardMin, cardMax;

    // The shop.
    std::uint64_t seed = 0;
    bool seedGiven = false;
    double seconds = 30;  // 0: until a stop signal
    int receipts = 0;     // stop after this many closed receipts (0: no limit)
    int paceMs = 100;
    int maxItems = 6;
    int unknownPercent = 5;
    int unconfirmedPercent = 5;
    int discountPercent = 10;
    int voidPercent = 6;
    int cardPercent = 25;

    // Robustness and checking.
    int answerTimeoutMs = 2500;
    int gapMs = 2000;
    // Where whoever kills the program notes each kill's instant (steady clock, nanoseconds, one
    // a line): an exchange the program answered before a kill and polled after it again was
    // cut, so what it told may be lost.
    std::string killsFile;
    bool finishReceipts = false;
    int finishTimeoutS = 20;
    bool verify = false;
    int settleMs = 4000;
    int timeSlackS = 60;
    bool quiet = false;
    std::string statusFile;
};

// Parses the arguments (without the program name). On an error returns nullopt and puts the
// message in `error`; `--help` sets `help`.
std::optional<ShopOptions> ParseShopOptions(const std::vector<std::string>& args,
                                            std::string& error, bool& help);

// The text of --help.
std::string ShopHelpText();

// The settings the program works with: the configuration file (if given) under the options.
// Relative file names are resolved against the working folder. Throws std::runtime_error when
// a given configuration file cannot be read.
ShopSettings ResolveSettings(const ShopOptions& options);

// The rate the register list gives a register whose simulated line runs at `rate` (0, the bare
// pty, is listed at 9600: the program needs a rate, the pty ignores it).
int ListedRate(int rate);

// `name` as the program opens it from `workDir`.
std::string ResolvePath(const std::string& workDir, const std::string& name);

}  // namespace tallyport::ecrsim
