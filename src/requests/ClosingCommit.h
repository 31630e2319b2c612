#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal/JournalRecords.h"

namespace tallyport {

class ReceiptJournal;
class RequestContext;
class TSerialExtended;
struct RequestFields;

// One closing's commit on its register's worker: the steps that keep "the register was told its
// receipt is recorded" and "its lines are in the files" in agreement across any crash. The
// order is CloseReceipt's (ReceiptClosing.cpp); this type holds what the steps share and keeps
// the journal's and the files' details behind them. Without a journal in the context every
// journal step is a no-op and the steps are the plain closing's.
//
// Made, used and dropped by one closing on the register's worker thread.
class ClosingCommit {
public:
    ClosingCommit(TSerialExtended& link, RequestFields& fields, RequestContext& context);

    // The journal holds the closing ("C": its filled transaction lines, its closing line after
    // every closing line still pending, its frame, the last-closing key it set) before the
    // register is told; false when that could not be made durable in time.
    bool Journal(const std::vector<std::string>& filled, const std::string& bonLine,
                 const std::optional<std::string>& key, const std::string& frame);
    // The register was not told: the journal forgets the closing ("X") and the last-closing
    // key is what it was (`key` replaced `previousKey`). Gives false, the closing's result.
    bool Cancel(const std::optional<std::string>& key, const std::string& previousKey);
    // The padded acknowledgement has left the port ("P", not waited for).
    void Acknowledged();
    // The pending lists become the closing's lines.
    void TakeLines();
    // The lines go to the files (ClosingAppends), each list let go of once in its file. Throws
    // RequestError when a file or the journal cannot be written: the lines stay pending.
    void WriteFiles();

private:
    TSerialExtended& link_;
    RequestFields& fields_;
    RequestContext& context_;
    ReceiptJournal* const journal_;
    OpenClosing closing_;
};

}  // namespace tallyport
