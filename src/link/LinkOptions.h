#pragma once

#include <string>

namespace tallyport {

class TPluH;

// What one register's link is given when its worker is built: the shared article holder, the
// two back-office files it appends to, and the settings its request handlers follow. Copied
// into the link state; later changes of the settings reach the link at the next start.
struct LinkOptions {
    TPluH* PluHolder = nullptr;  // shared by all workers, not owned; may be null (no lookups)
    std::string ReceiptMasterFile = "Bon.txt";
    std::string ReceiptDetailFile = "Tran.txt";
    double CardMin = 0;
    double CardMax = 100000000;
    bool RecDiscount = true;
    bool RecAmount = true;
    bool RecDecimals = false;
    std::string ScalePrefix = "24";  // the scale-barcode prefix as decimal text
    // How the register's turns on its line are taken. Off: every register in turn under
    // LinkLock, one line at a time. On: each line on its own, under a lock of the link's own,
    // so that no register waits for another's turn (TSerialExtended::TurnLock).
    bool ParallelLines = false;
};

}  // namespace tallyport
