#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/Journal.h"
#include "ecrsim/ProgramLines.h"
#include "ecrsim/SaleRules.h"
#include "ecrsim/ShopOptions.h"
#include "ecrsim/ShopSettings.h"
#include "simulator/EcrSimulator.h"

namespace tallyport::ecrsim {

// Lines for the user, one at a time from any thread.
class Printer {
public:
    explicit Printer(bool quiet) : quiet_(quiet) {}
    void Exchange(const std::string& line) const;  // suppressed when quiet
    void Note(const std::string& line) const;      // always shown
    void Problem(const std::string& line) const;   // always shown, marked

private:
    void Write(const std::string& line) const;
    mutable std::mutex mutex_;
    bool quiet_;
};

// What the whole run shares and how it is steered (by the main thread, from signals).
struct ShopControl {
    std::atomic<bool> stop{false};   // start no new receipt; close or leave the open ones
    std::atomic<bool> abort{false};  // leave at once
    std::atomic<bool> paused{false};
    std::atomic<int> resumes{0};                          // counts the resumptions after a pause
    std::atomic<std::int64_t> finishDeadline{INT64_MAX};  // steady clock, nanoseconds
    std::atomic<int> receiptsClosed{0};
};

struct ShopContext {
    const ShopOptions& options;
    const ShopSettings& settings;
    const ArticleFile& articles;
    Journal& journal;
    Printer& printer;
    ShopControl& control;
};

struct ClerkStats {
    int receiptsClosed = 0;
    int closingMessages = 0;
    int sales = 0;  // confirmed, so recorded
    int unconfirmed = 0;
    int unknownCodes = 0;
    int foreignRequests = 0;
    int discounts = 0;
    int voids = 0;
    int cardAccepted = 0;
    int cardRefused = 0;
    int otherMessages = 0;
    int exchanges = 0;
    int notServed = 0;
    int protocolErrors = 0;
    int possibleRestarts = 0;
    int receiptsLeftOpen = 0;
};

// One register's cashier: plays receipts on its simulated register, checks every answer of
// the program and keeps a model of what the program holds for the register (its pending
// lines, the last article found, the card reference), so that every acknowledged closing can
// be turned into the exact lines the program must write.
//
// Owned by the shop; Run() is the body of the clerk's own thread, the other members may be
// called from the main thread.
class Clerk {
public:
    Clerk(const ShopContext& context, int logicalNb, std::uint64_t seed);
    Clerk(const Clerk&) = delete;
    Clerk& operator=(const Clerk&) = delete;

    void Run();

    int LogicalNb() const { return logicalNb_; }
    std::string Fiscal() const;
    std::string PortName() const { return simulator_->SlavePath(); }
    bool Idle() const { return idle_.load(); }  // no receipt open, waiting (paused) or ended
    bool Ended() const { return ended_.load(); }
    ClerkStats Stats() const;

private:
    struct Payment {
        int type = 0;
        std::string amount2;
        bool sent = false;
    };
    struct Receipt {
        int number = 0;
        int operatorNo = 1;
        int plannedItems = 1;
        int itemsTried = 0;
        double total = 0;
        std::vector<double> lineValues;  // the register's own lines, as it sees them
        bool cardDecided = false;
        bool linesWritten = false;  // the first closing was acknowledged
        std::vector<Payment> payments;
    };
    enum class Expect { Nothing, Reply, PaddedAck };
    struct Outcome {
        bool served = false;    // the answer went out at a poll
        bool acked = false;     // the program acknowledged the frame, so it handled it
        bool accepted = false;  // acknowledged, and what was due came back
        bool lost = false;      // the program stopped answering in the middle
        bool settled = false;   // the program polled again: it has kept what it was told
        std::string reply;
        Span span;
    };

    Outcome Exchange(const std::string& kind, const std::string& body, Expect expect,
                     const std::string& expectedReply, bool confirm);
    static std::unique_ptr<sim::EcrSimulator> MakeSimulator(const ShopOptions& options,
                                                            int logicalNb);
    std::string LateAnswer(const sim::ExchangeResult& result) const;
    bool WaitForFirstPoll();
    void CheckProgramRate();
    void CheckForRestart();
    void ProgramMayHaveRestarted(const Span& span, const std::string& why);

    void StartReceipt();
    void ReceiptStep();
    void ItemStep();
    void ClosingStep();
    bool Sale(bool forceKnown);
    void Discount();
    void VoidLast();
    void OtherMessage();
    void DecidePayment();
    bool CardCheck(const std::string& amount);
    void SendClosing(Payment& payment);

    std::string Body(char type, const std::vector<std::string>& fields);
    std::string PickCode(bool forceKnown, bool& foreign);
    int Percent();
    bool WantsToClose() const;
    void Pace();

    const ShopContext& context_;
    const int logicalNb_;
    std::unique_ptr<sim::EcrSimulator> simulator_;
    std::mt19937_64 random_;
    std::vector<const Article*> plain_, barcodes_, weighed_;

    // Model of what the program holds for this register.
    ProgramLines held_;
    std::optional<LastArticle> lastArticle_;  // unknown after a restart that may have lost it
    bool KilledBetween(sim::Clock::time_point from, sim::Clock::time_point to) const;
    std::vector<std::string> cardReferences_;  // the possible ones; empty: any

    std::optional<Receipt> receipt_;
    int nextReceiptNo_ = 1;
    int zReport_ = 1;
    int sequence_ = 0;
    int resumesSeen_ = 0;
    sim::Clock::time_point lastGapCheck_{};

    std::atomic<bool> idle_{false};
    std::atomic<bool> ended_{false};
    mutable std::mutex statsMutex_;
    ClerkStats stats_;
};

}  // namespace tallyport::ecrsim
