#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

// The receipt journal's text format and what one register's file says once read back.
//
// One file per register; one record per line:
//     <CRC-32 of the rest of the line, 8 hex digits> <kind>[<TAB><field>]...<LF>
// Inside a field the bytes below 0x20, TAB's and LF's neighbours, "%" and 0x7F are written as
// "%XX", so a record is one line of readable text whatever the register sent. A last line
// without its LF or with a wrong checksum is a write the power cut tore: it was never reported
// durable, so it is dropped. A bad line anywhere else is damage, reported by the reader.
//
// Record kinds (fields after the kind):
//   S line          a sale or discount line joined the pending transaction lines
//   V               a void removed the last pending transaction line
//   F dept vat comma card   the working fields later lines and closings depend on
//   K seq key       the last-closing key, as set by closing `seq` (the highest seq of all
//                   registers' files is the process's key)
//   C seq bonPath tranPath key raw nBon bon... tran...   a closing prepared: the pending lists
//                   become exactly these (transaction lines with the receipt's numbers);
//                   key is "" when the closing left the key alone, else "k" + key
//   X seq           the prepared closing was not acknowledged: the lists are as before it
//   P seq           the closing's padded acknowledgement has left the port: the register has
//                   it, so a restart takes no later closing frame for this one sent again
//   A seq bonOffset tranOffset [bonStamp tranStamp]   where the closing's lines go: each
//                   file's size before them (and what the file looked like then, FileStamp);
//                   written again whenever a restart must put them elsewhere
//   B seq           the closing's receipt-closing lines are in their file
//   D seq           the closing's lines are all in their files: they leave the lists (lines
//                   journalled after the closing stay pending)
//   Q line          a pending receipt-closing line (written by compaction)
//   L raw           the last closing frame this register sent (written by compaction)
//   R line...       the pending transaction lines are now exactly these (a closing that could
//                   not be read filled in its receipt's numbers)
//   U raw           a closing frame that could not be read, kept for the user
// Free functions without state: any thread may call them.

struct JournalFields {
    std::string deptText;
    std::string vatText;
    std::string commaText;
    std::string cardReference;
    bool operator==(const JournalFields&) const = default;
};

// A closing between its preparation and its last append.
struct OpenClosing {
    std::uint64_t seq = 0;
    std::string bonPath;
    std::string tranPath;
    std::vector<std::string> bonLines;
    std::vector<std::string> tranLines;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> offsets;  // bon, tran
    std::pair<std::string, std::string> stamps;  // bon, tran (FileStamp::identity; "" unknown)
    bool bonWritten = false;
};

// One register's journal, read back.
struct RegisterJournal {
    std::vector<std::string> tranLines;
    std::vector<std::string> bonLines;
    JournalFields fields;
    std::uint64_t keySeq = 0;  // 0: this register set no key
    std::string key;
    std::string lastClosingFrame;
    std::uint64_t lastClosingSeq = 0;  // 0: the frame came from an older journal's "L"
    bool lastClosingAcked = false;     // its padded acknowledgement left the port ("P")
    std::optional<OpenClosing> open;
    std::vector<std::string> unreadableClosings;
    std::uint64_t highestSeq = 0;

    // The whole state before the open closing: what X restores.
    std::shared_ptr<const RegisterJournal> before;

    // Something the register's worker must keep: lines, an open closing, kept frames.
    bool HoldsLines() const { return !tranLines.empty() || !bonLines.empty() || open.has_value(); }
};

// One record, before encoding.
struct JournalRecord {
    char kind = 0;
    std::vector<std::string> fields;
};

std::uint32_t Crc32(std::string_view bytes);
std::string EscapeField(std::string_view field);
std::optional<std::string> UnescapeField(std::string_view text);

// The line of a record, LF included.
std::string EncodeRecord(const JournalRecord& record);
// A line without its LF; nothing when its checksum or form is wrong.
std::optional<JournalRecord> DecodeRecord(std::string_view line);

// Applies one record to a register's state; false when the record makes no sense there (an
// unknown kind, a wrong field count, a number that is not one).
bool ApplyRecord(RegisterJournal& state, const JournalRecord& record);

struct ParsedJournal {
    RegisterJournal state;
    bool tornTail = false;                   // an unfinished last line was dropped
    std::optional<std::size_t> damagedLine;  // 1-based number of the first bad line
    std::size_t validBytes = 0;              // length of the good part
};
// Reads a whole file's bytes.
ParsedJournal ParseJournal(std::string_view bytes);

// The records that say the same as `state` (compaction writes them to a new file).
std::vector<JournalRecord> SnapshotRecords(const RegisterJournal& state);

// Record builders.
JournalRecord SaleRecord(const std::string& line);
JournalRecord VoidRecord();
JournalRecord FieldsRecord(const JournalFields& fields);
JournalRecord ClosingRecord(const OpenClosing& closing, const std::optional<std::string>& key,
                            const std::string& rawFrame);
JournalRecord SeqRecord(char kind, std::uint64_t seq);  // X, P, B, D
JournalRecord IntentRecord(std::uint64_t seq, std::uint64_t bonOffset, std::uint64_t tranOffset,
                           const std::string& bonStamp = {}, const std::string& tranStamp = {});
JournalRecord ReplaceLinesRecord(const std::vector<std::string>& tranLines);
JournalRecord UnreadableRecord(const std::string& rawFrame);

}  // namespace tallyport
