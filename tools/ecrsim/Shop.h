#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/Clerk.h"
#include "ecrsim/Journal.h"
#include "ecrsim/ShopOptions.h"
#include "ecrsim/ShopSettings.h"

namespace tallyport::ecrsim {

// The whole run: the registers and their clerks, the register list, the run's end (time,
// receipt count, signals), the pause for restarting the program, the summary and the check
// of the files. Lives on the main thread; the clerks run on their own threads.
class Shop {
public:
    Shop(ShopOptions options, ShopSettings settings, ArticleFile articles);
    ~Shop();
    Shop(const Shop&) = delete;
    Shop& operator=(const Shop&) = delete;

    // Runs to the end and returns the exit status. SIGINT, SIGTERM, SIGUSR1 and SIGUSR2 must
    // be blocked in every thread before the shop is made (see BlockShopSignals).
    int Run();

private:
    void WriteRegisterList() const;
    void Steer();
    void SetStatus(const std::string& status);
    void Stop(const std::string& why);
    bool PrintSummary() const;
    bool Verify() const;

    ShopOptions options_;
    ShopSettings settings_;
    ArticleFile articles_;
    Journal journal_;
    Printer printer_;
    ShopControl control_;
    ShopContext context_;
    std::vector<std::unique_ptr<Clerk>> clerks_;
    std::vector<std::pair<std::string, std::uintmax_t>> startSizes_;
    SteadyClock::time_point runStart_{};
    std::string status_;
    bool pausedAnnounced_ = false;
};

// Blocks the signals the shop handles itself; call first thing in main, before any thread.
void BlockShopSignals();

}  // namespace tallyport::ecrsim
