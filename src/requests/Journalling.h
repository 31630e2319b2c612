#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/ReceiptJournal.h"
#include "requests/RequestFields.h"

namespace tallyport {

class NoticeSink;
class RequestContext;
class TSerialExtended;

// The request handlers' side of the journal: what they tell it, the wait for it, a closing's
// commit and what a restart does with what it reads back. Every function is a no-op (or does
// what it did without a journal) when the context has none.
//
// A closing's commit, so that no line is lost and none is written twice:
//   1. "C": the closing prepared (its filled transaction lines, its closing line and every
//      closing line still pending, its raw frame, the last-closing key), durable before the
//      padded acknowledgement goes out; "X" when the acknowledgement could not be sent;
//   2. under the output files' lock: "A" with both files' sizes, durable before the first
//      byte is appended; each file: one write, fsync (AppendLinesToFile); "B" after the
//      receipt-closing file, "D" after the transaction file (these two need no wait: a restart
//      tells from the files);
//   3. the writer compacts the register's file after "D".
// A restart completes a prepared closing that has no "D": for each file not yet marked, the
// bytes at the recorded size equal to ours mean written; a strict prefix of ours is cut back
// and written again; nothing there is written; other bytes there (our write was cut back and
// others appended) mean ours go at the end.
//
// Threads: the handler functions run on the register's worker; RestoreFromJournal on the
// shell's thread before the workers start.

// Journals `records` for the link's register, after its working fields when they changed.
void JournalRecords(TSerialExtended& link, const RequestFields& fields, RequestContext& context,
                    std::vector<JournalRecord> records);
// Journals the link's working fields (when they changed) and the last pending transaction
// line, which a handler has just added.
void JournalNewLine(TSerialExtended& link, const RequestFields& fields, RequestContext& context);
void JournalVoid(TSerialExtended& link, const RequestFields& fields, RequestContext& context);
// Journals the working fields when they changed (the card reference).
void JournalFieldsIfChanged(TSerialExtended& link, const RequestFields& fields,
                            RequestContext& context);
// The register sent something other than a closing: a closing frame after this is new.
void EndResendWindow(TSerialExtended& link, RequestContext& context);
// Waits until everything journalled for this register is on the disk. Call without LinkLock.
// False when the port was closed meanwhile (the worker is being stopped) or `limit` passed.
bool AwaitJournal(TSerialExtended& link, RequestContext& context,
                  std::optional<std::chrono::milliseconds> limit = std::nullopt);

// How long a closing waits for the journal before it gives up and leaves the register without
// its padded acknowledgement (it closes again): a late acknowledgement could cross the
// register's repeat of the closing and have one receipt written twice.
inline constexpr std::chrono::milliseconds kClosingJournalWait{1000};

// Makes the link's worker wait, before each poll and without LinkLock, until the journal holds
// what its register was told (TSerialExtended::SetBeforeCycle).
void WaitForJournalBeforeEachPoll(TSerialExtended& link, RequestContext& context);

// Writes `bytes` to `path` as the restart's rule above says (no offset: at the end). Throws
// RequestError when the file cannot be written; `notice` gets a text when the file had become
// shorter than the recorded size (someone cut it: the lines may now be there twice).
void CompleteAppend(const std::string& path, std::optional<std::uint64_t> offset,
                    const std::string& bytes, std::string& notice);

// The size of a file, 0 when it does not exist.
std::uint64_t FileSizeOrZero(const std::string& path);

// Lines joined with CR LF after each, as the back-office files hold them.
std::string CrLfLines(const std::vector<std::string>& lines);

// At start-up, for the links about to be started: completes every prepared closing, gives each
// link its journalled lines and fields, the process its last-closing key, and tells the user
// about registers with journal lines that have no link and about unreadable closings kept.
void RestoreFromJournal(ReceiptJournal::Loaded& loaded, const std::vector<TSerialExtended*>& links,
                        RequestContext& context, NoticeSink& notices);

}  // namespace tallyport
