#pragma once

#include <optional>
#include <string>

namespace tallyport::ecrsim {

// The program's settings that decide what it answers and writes, with the program's defaults.
// File names are as written in the configuration; relative ones resolve against the program's
// working folder.
struct ShopSettings {
    std::string pluFile = "PLU.txt";
    std::string receiptMaster = "Bon.txt";
    std::string receiptDetail = "Tran.txt";
    std::string ecrList = "ECRs.dat";
    double cardMin = 0;
    double cardMax = 100000000;
    int scalePrefix = 24;
    bool recDiscount = true;
    bool recAmount = true;
    bool recSepFiles = false;
    bool recDecimals = false;
};

// Reads the keys of the program's configuration file (sections Files, CardOptions, Scale,
// Options; names matched without regard to case) over `settings`; a missing key keeps its
// value. Integers may be written 0x1A or $1A; a boolean is an integer, non-zero for true;
// doubles take "." (or ","). Returns false when the file cannot be read.
bool ReadConfigFile(const std::string& path, ShopSettings& settings);

// The value of `key` in `section` of INI text, if present.
std::optional<std::string> IniValue(const std::string& text, const std::string& section,
                                    const std::string& key);

}  // namespace tallyport::ecrsim
