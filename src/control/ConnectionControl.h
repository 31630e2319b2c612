#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/NoticeSink.h"
#include "control/ShellView.h"
#include "control/UserDialogs.h"
#include "journal/ReceiptJournal.h"
#include "link/MessageHandlers.h"
#include "link/SerialThread.h"
#include "requests/RequestContext.h"
#include "store/CsvTable.h"
#include "store/PluHolder.h"
#include "store/RegisterList.h"

namespace tallyport {

// True while the registers are connected: their workers run, each serving its register or,
// while its port is not there (a USB adapter that comes late, is unplugged, busy), trying it
// again about once a second; the status of each register says which. So a service that starts
// at boot before its adapters is connected and serves each register as its port appears.
// Changed only by TConnectionControl, on the user-interface thread.
extern bool Connected;

// The shell's texts for the user.
namespace shell_text {
inline constexpr char kPluFileBad[] =
    "Eroare: Fisier PLU incorect (existenta coduri duplicate sau alte erori)!";
inline constexpr char kFilesCorrupt[] = "Eroare: Fisierele aplicatiei sunt corupte! Reinstalati.";
inline constexpr char kNoRegisters[] = "Nu exista nici o casa de marcat in tabela de configurare!";
inline constexpr char kWorkerListFailed[] =
    "Eroare: Nu se poate initializa lista de case de marcat!";
inline constexpr char kReceiptsOpen[] =
    "Eroare: Nu puteti deconecta casele cit timp exista bonuri deschise!";
inline constexpr char kConfirmClose[] = "Confirmati inchiderea Tallyport?";
inline constexpr char kConfirmDelete[] = "Confirmati stergerea casei de marcat?";
// A settings or register-list save that failed: the file and the platform's reason.
std::string SaveFailed(const std::string& path, int reason);
// A stop that could not wait, with the registers whose receipts were open and what becomes of
// their lines (kept in the journal, or lost without one).
std::string EndedWithOpenReceipts(const std::vector<std::string>& registers, bool journal);
}  // namespace shell_text

// Start-up, connecting, disconnecting and shutdown of the program, without widgets: the window
// (or the headless program) calls these operations and shows what they decide through
// ShellView and UserDialogs.
//
// Owns the register list, the article table, the article holder and the link workers. Every
// operation runs on the user-interface thread; the workers run on their own threads between a
// successful StartLink and StopLink, and report to the user only through the NoticeSink.
class TConnectionControl {
public:
    // Each worker gets its handler table from `handlers` (empty: every message type is accepted
    // and dropped) and shows its notices on `trayIcon`. Settings are written to `configPath`.
    TConnectionControl(std::string configPath, ShellView& view, UserDialogs& dialogs,
                       NoticeSink& trayIcon, HandlerFactory handlers);
    ~TConnectionControl();
    TConnectionControl(const TConnectionControl&) = delete;
    TConnectionControl& operator=(const TConnectionControl&) = delete;

    enum class StartupResult {
        Running,  // started (connected or not); the message loop may run
        Failed,   // a file failed to load; the program ends without writing anything
        Stopped,  // a stop request came during start-up; ends without writing anything
    };
    // The start-up handler: loads the article table and the register list, builds one worker
    // per register and connects them all.
    StartupResult TrayStartup();
    // Asked between the start-up steps; true ends the start-up (a stop signal was received).
    void SetStopProbe(std::function<bool()> probe) { stopProbe_ = std::move(probe); }
    // The handlers' shared context: with it, the start-up opens the journal beside the
    // transaction file (carrying it there from where it was last used, remembered beside the
    // configuration file; one program per journal folder) and the workers keep what their
    // registers were told in it. Set before TrayStartup; it must outlive this object.
    void UseRequestContext(RequestContext* context) { context_ = context; }
    ReceiptJournal* Journal() { return journal_.get(); }

    // Settings and register list between the view, AppSettings and the files; true on failure.
    bool DisplayParams();
    bool StoreParams();
    // Builds the worker list: 0 built, 1 empty register list, 2 a row failed.
    int CreateECRThreads();
    // Connects: 0 at least one worker started, 1 none started, 2 no worker in the list. A worker
    // whose port cannot be opened starts all the same and tries it again (TSerialThread), so
    // 1 means only that no worker thread could be made.
    int StartECRThreads();
    // How a refusal to disconnect reaches the user.
    enum class Refusal { MessageBox, LogLine };
    // Disconnects: false stopped, true refused because a receipt is open.
    bool StopECRThreads(Refusal refusal = Refusal::MessageBox);
    void ShowConnectState(bool connected);
    // Frees every worker (stopping those that run), then the article holder.
    void FreeECRObjects();

    // The user's commands.
    void ConnectAction();
    void DisconnectAction();
    void ConnectButtonAction();  // disconnect when connected, connect otherwise
    // The close query. `ask` puts the confirmation first. True when the program may end: the
    // links are stopped, settings and register list written, everything freed.
    bool CloseQuery(bool ask, Refusal refusal = Refusal::MessageBox);

    // A stop request (a signal, the console's Ctrl+C, the service manager's stop): the close
    // query answered Yes without the question.
    enum class StopResult {
        StartupAborted,  // during start-up: TrayStartup ends without writing anything
        Ended,           // orderly exit done; the message loop may end
        Refused,         // a receipt is open; retry when none is (AnyReceiptOpen)
        AlreadyEnded,
    };
    // `mustEnd`: the system ends the process shortly whatever happens (a service stop, a
    // shutdown), so the request is not refused: see EndNow.
    StopResult RequestStop(bool mustEnd = false);
    // The orderly exit that cannot wait for open receipts: the workers stop at once, the journal
    // writes what they queued (it keeps the open receipts' lines for the next start, which
    // writes them at their closing), then the settings and the register list are written. The
    // log says which registers had a receipt open. Running phase only.
    void EndNow();

    // A register whose receipt is open: its lines are pending.
    struct OpenReceipt {
        int logicalNb = 0;
        std::string port;
        std::size_t lines = 0;  // transaction and closing lines not yet in the files
    };
    // The started workers with a receipt open, in the workers' order.
    std::vector<OpenReceipt> OpenReceipts() const;

    // Leaving a setting control, ticking an option, after a browse: the settings and the
    // register list to their files. Nothing while Loading or after the end. A save that fails
    // is shown once, naming the file and the reason; the same failure again is not shown again
    // until a save has succeeded (every control the user leaves saves).
    void SettingsChanged();
    // After the register dialog has closed: save the list (an error reaches the user) and, if
    // that worked, show it again as read back.
    void SaveAndReloadRegisterList();
    // "&Sterge": asks, deletes row `row` of the list (in its order), saves and shows it again.
    void DeleteRegister(std::optional<std::size_t> row);

    bool Loading() const { return loading_; }
    bool Ended() const { return phase_ == Phase::Ended; }
    // True when a started worker holds lines of an open receipt: transaction lines, or a
    // closing line that has not reached its file yet.
    bool AnyReceiptOpen() const;

    CsvTable& RegisterList() { return *registerList_; }
    // Where the control asks and tells the user (the register dialog asks there too).
    UserDialogs& Dialogs() { return dialogs_; }
    TPluH* PluHolder() { return pluHolder_.get(); }
    const std::vector<std::unique_ptr<TSerialThread>>& ECRThreads() const { return threads_; }
    bool Started(std::size_t worker) const { return started_.at(worker); }
    const std::string& ConfigPath() const { return configPath_; }

private:
    enum class Phase { Created, Starting, Running, Ended };

    std::unique_ptr<TSerialThread> BuildWorker(const RegisterEntry& row) const;
    void RefuseStop(Refusal refusal);
    // StoreParams and the configuration file, with a failure reported (see SettingsChanged).
    void SaveSettings();
    bool StopRequested();
    void OpenJournal();
    void RememberJournal(const std::string& pointer, const std::string& folder);
    void RestoreJournal();  // once, into the workers built so far
    void FreeJournal();
    StartupResult EndStartup(StartupResult result);

    std::string configPath_;
    ShellView& view_;
    UserDialogs& dialogs_;
    NoticeSink& trayIcon_;
    HandlerFactory handlers_;
    std::function<bool()> stopProbe_;
    RequestContext* context_ = nullptr;
    std::unique_ptr<ReceiptJournal> journal_;       // freed after the workers
    std::optional<ReceiptJournal::Loaded> loaded_;  // read at start-up, given to the workers

    Phase phase_ = Phase::Created;
    bool loading_ = false;
    bool stopDuringStartup_ = false;
    std::unique_ptr<CsvTable> registerList_;
    std::unique_ptr<TPluH> pluHolder_;
    std::vector<std::unique_ptr<TSerialThread>> threads_;
    std::vector<bool> started_;  // per worker: started by the current connection
    std::string storeFailure_;   // why the last StoreParams failed ("" when it did not)
    std::string saveReported_;   // the save failure last shown ("" after a save that worked)
};

// Makes row `index` (in the list's order) the current row; false when there is no such row.
bool MoveToRow(CsvTable& table, std::size_t index);

}  // namespace tallyport
