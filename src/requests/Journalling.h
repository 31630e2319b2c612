#pragma once

#include <chrono>
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
// A closing's commit and its completion at a restart are ClosingCommit and ClosingAppends.
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
// Waits until everything journalled for this register is on the disk. Call outside the
// register's turn (TSerialExtended::TurnLock).
// False when the port was closed meanwhile (the worker is being stopped) or `limit` passed.
bool AwaitJournal(TSerialExtended& link, RequestContext& context,
                  std::optional<std::chrono::milliseconds> limit = std::nullopt);

// How long a closing waits for the journal before it gives up and leaves the register without
// its padded acknowledgement (it closes again): a late acknowledgement could cross the
// register's repeat of the closing and have one receipt written twice.
inline constexpr std::chrono::milliseconds kClosingJournalWait{1000};

// Makes the link's worker wait, before each poll and outside its turn, until the journal holds
// what its register was told (TSerialExtended::SetBeforeCycle).
void WaitForJournalBeforeEachPoll(TSerialExtended& link, RequestContext& context);

// The list beside the journal of receipts a restart wrote where it could not prove them
// absent (one line each: register, receipt, amount, times, file, reason).
std::string UnprovenListPath(const ReceiptJournal& journal);

// At start-up, for the links about to be started: completes every prepared closing (each step
// journalled and waited for, so an interruption here is completed by the next start), gives
// each link its journalled lines and fields, the process its last-closing key, and tells the
// user about registers with journal lines that have no link, about unreadable closings kept
// and about receipts written where the file could not prove them absent (UnprovenListPath).
void RestoreFromJournal(ReceiptJournal::Loaded& loaded, const std::vector<TSerialExtended*>& links,
                        RequestContext& context, NoticeSink& notices);

}  // namespace tallyport
