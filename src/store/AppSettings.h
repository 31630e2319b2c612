#pragma once

#include <cstdint>
#include <string>

namespace tallyport {

// The settings of the configuration file.
struct AppSettingsRecord {
    std::string PLU;            // [Files] PLU, "PLU.txt"
    std::string ReceiptMaster;  // [Files] ReceiptMaster, "Bon.txt"
    std::string ReceiptDetail;  // [Files] ReceiptDetail, "Tran.txt"
    std::string Backup;         // [Files] Backup, "\Backup\" (kept, written back)
    std::string ECRList;        // [Files] ECRList, "ECRs.dat"
    double Min = 0;             // [CardOptions] Min, 0
    double Max = 0;             // [CardOptions] Max, 100000000
    std::int32_t Prefix = 0;    // [Scale] Prefix, 24
    bool RecDiscount = false;   // [Options] RecDiscount, true
    bool RecAmount = false;     // [Options] RecAmount, true
    bool RecSepFiles = false;   // [Options] RecSepFiles, false
    bool RecDecimals = false;   // [Options] RecDecimals, false
    // [Options] ParallelLines, false: each register's line served on its own rather than all in
    // turn (LinkOptions::ParallelLines); reaches the workers when they are next built.
    bool ParallelLines = false;
};

// The process-wide settings. Only the user-interface thread reads and changes them; the workers
// get copies when they are built.
extern AppSettingsRecord AppSettings;

// Reads every key, in table order, from the configuration file; false when all were read, true
// when an error interrupted the reading (a file that exists but cannot be read; a missing file
// gives the defaults). `reason`, when given, receives the platform's error code. Never throws.
bool LoadConfig(const std::string& path, AppSettingsRecord& settings = AppSettings,
                int* reason = nullptr);

// Writes every key in table order (Files, CardOptions, Scale, Options), one key at a time, each
// write replacing the file atomically; false when all were written, true when a write failed
// (the keys after it are not written); `reason`, when given, receives the platform's error code.
// Never throws.
bool SaveConfig(const std::string& path, const AppSettingsRecord& settings = AppSettings,
                int* reason = nullptr);

}  // namespace tallyport
