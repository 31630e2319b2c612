#include "control/ConnectionControl.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "base/FileReplace.h"
#include "journal/JournalPlace.h"
#include "link/LinkLock.h"
#include "requests/Journalling.h"
#include "requests/OutputFileNames.h"
#include "store/AppSettings.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"

namespace tallyport {

bool Connected = false;

std::string shell_text::SaveFailed(const std::string& path, int reason) {
    std::string text = "Eroare: Setarile nu pot fi salvate in fisierul " + path;
    if (reason != 0) {
        text += " (" + ErrorText(reason) + ")";
    }
    return text + "!";
}

std::string shell_text::EndedWithOpenReceipts(const std::vector<std::string>& registers,
                                              bool journal) {
    std::string text = "Oprire ceruta de sistem cu bonuri deschise: ";
    for (std::size_t i = 0; i < registers.size(); ++i) {
        text += (i == 0 ? "" : ", ") + registers[i];
    }
    return text + (journal ? ". Liniile lor raman in jurnal si se scriu dupa repornire."
                           : ". Fara jurnal, liniile lor se pierd.");
}

bool MoveToRow(CsvTable& table, std::size_t index) {
    if (!table.IsOpen() || index >= table.RowCount()) {
        return false;
    }
    table.MoveTo(index);
    return true;
}

TConnectionControl::TConnectionControl(std::string configPath, ShellView& view,
                                       UserDialogs& dialogs, NoticeSink& trayIcon,
                                       HandlerFactory handlers)
    : configPath_(std::move(configPath)),
      view_(view),
      dialogs_(dialogs),
      trayIcon_(trayIcon),
      handlers_(std::move(handlers)),
      registerList_(MakeRegisterList()) {
    Connected = false;
}

TConnectionControl::~TConnectionControl() {
    FreeECRObjects();
    Connected = false;
}

bool TConnectionControl::StopRequested() {
    if (!stopDuringStartup_ && stopProbe_ && stopProbe_()) {
        stopDuringStartup_ = true;
    }
    return stopDuringStartup_;
}

TConnectionControl::StartupResult TConnectionControl::EndStartup(StartupResult result) {
    // Nothing is written: the files did not load, or the start-up was cut short, so the
    // window's controls and the register list may not hold what the files hold.
    FreeECRObjects();
    Connected = false;
    loading_ = false;
    phase_ = Phase::Ended;
    return result;
}

TConnectionControl::StartupResult TConnectionControl::TrayStartup() {
    phase_ = Phase::Starting;
    loading_ = true;
    threads_.clear();
    started_.clear();
    view_.PrepareStartup();
    if (StopRequested()) {
        return EndStartup(StartupResult::Stopped);
    }

    try {
        pluHolder_ = std::make_unique<TPluH>(AppSettings.PLU);
    } catch (const std::exception&) {
        // The register list would stay unloaded: end as after the corrupt-files message rather
        // than run, and later write, without it.
        dialogs_.ShowMessage(MessageKind::Error, shell_text::kPluFileBad);
        return EndStartup(StopRequested() ? StartupResult::Stopped : StartupResult::Failed);
    }
    if (StopRequested()) {
        return EndStartup(StartupResult::Stopped);
    }

    if (DisplayParams()) {
        dialogs_.ShowMessage(MessageKind::Error, shell_text::kFilesCorrupt);
        return EndStartup(StopRequested() ? StartupResult::Stopped : StartupResult::Failed);
    }
    if (StopRequested()) {
        return EndStartup(StartupResult::Stopped);
    }

    try {
        OpenJournal();
    } catch (const JournalError&) {
        return EndStartup(StopRequested() ? StartupResult::Stopped : StartupResult::Failed);
    }
    if (CreateECRThreads() == 0 && !StopRequested()) {
        Connected = StartECRThreads() == 0;
    }
    if (StopRequested()) {
        return EndStartup(StartupResult::Stopped);
    }
    ShowConnectState(Connected);
    loading_ = false;
    phase_ = Phase::Running;
    return StartupResult::Running;
}

bool TConnectionControl::DisplayParams() {
    bool failed = false;
    try {
        view_.ShowSettings(AppSettings);
        registerList_->Close();
        registerList_->Open();
        LoadTableFromFile(*registerList_, AppSettings.ECRList);
    } catch (const std::exception&) {
        failed = true;
    }
    view_.ShowRegisterList();
    return failed;
}

bool TConnectionControl::StoreParams() {
    view_.TakeSettings(AppSettings);
    storeFailure_.clear();
    try {
        SaveTableToFile(*registerList_, AppSettings.ECRList);
    } catch (const StoreError& e) {
        storeFailure_ = shell_text::SaveFailed(AppSettings.ECRList, e.Reason());
        return true;
    } catch (const std::exception&) {
        storeFailure_ = shell_text::SaveFailed(AppSettings.ECRList, 0);
        return true;
    }
    return false;
}

void TConnectionControl::SaveSettings() {
    std::string failure;
    if (StoreParams()) {
        failure = storeFailure_;
    }
    int reason = 0;
    if (SaveConfig(configPath_, AppSettings, &reason)) {
        failure += (failure.empty() ? "" : "\n") + shell_text::SaveFailed(configPath_, reason);
    }
    if (failure.empty()) {
        saveReported_.clear();
    } else if (failure != saveReported_) {
        saveReported_ = failure;
        dialogs_.ShowMessage(MessageKind::Error, failure);
    }
}

std::unique_ptr<TSerialThread> TConnectionControl::BuildWorker(const RegisterEntry& row) const {
    if (row.Parity.empty()) {
        throw std::invalid_argument("register without parity");
    }
    const AppSettingsRecord& s = AppSettings;
    const int logicalNb = row.LogicalNb.value_or(0);
    LinkOptions options;
    options.PluHolder = pluHolder_.get();
    options.ReceiptMasterFile = s.ReceiptMaster;
    options.ReceiptDetailFile = s.ReceiptDetail;
    if (s.RecSepFiles) {
        options.ReceiptMasterFile = PerRegisterFileName(s.ReceiptMaster, logicalNb);
        options.ReceiptDetailFile = PerRegisterFileName(s.ReceiptDetail, logicalNb);
    }
    options.CardMin = s.Min;
    options.CardMax = s.Max;
    options.RecDiscount = s.RecDiscount;
    options.RecAmount = s.RecAmount;
    options.RecDecimals = s.RecDecimals;
    options.ParallelLines = s.ParallelLines;
    options.ScalePrefix = std::to_string(s.Prefix);
    auto worker = std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, trayIcon_);
    TSerialExtended& link = worker->Link();
    link.LogicalNb = logicalNb;
    link.ModelType = row.ModelType;
    link.CommPort = row.CommPort;
    link.TranRate = row.TranRate.value_or(0);
    link.DataBits = row.DataBits.value_or(0);
    link.Parity = row.Parity.front();
    link.StopBits = row.StopBits.value_or(0);
    link.Fiscal = row.Fiscal;
    // Last: the handlers are made for a register whose settings are known.
    if (handlers_) {
        link.SetHandlers(handlers_(link));
    }
    return worker;
}

int TConnectionControl::CreateECRThreads() {
    threads_.clear();
    started_.clear();
    if (!registerList_->IsOpen() || registerList_->RowCount() == 0) {
        dialogs_.ShowMessage(MessageKind::Warning, shell_text::kNoRegisters);
        RestoreJournal();
        return 1;
    }
    registerList_->First();
    while (!registerList_->Eof()) {
        try {
            threads_.push_back(BuildWorker(ReadRegisterEntry(*registerList_)));
            started_.push_back(false);
        } catch (const std::exception&) {
            dialogs_.ShowMessage(MessageKind::Error, shell_text::kWorkerListFailed);
            RestoreJournal();
            return 2;
        }
        registerList_->Next();
    }
    RestoreJournal();
    return 0;
}

void TConnectionControl::RestoreJournal() {
    // Also when the list is empty or a row failed: acknowledged closings reach the files now,
    // and the user hears of registers whose lines wait in the journal.
    if (context_ == nullptr || !loaded_) {
        return;
    }
    std::vector<TSerialExtended*> links;
    for (auto& worker : threads_) {
        links.push_back(&worker->Link());
    }
    RestoreFromJournal(*loaded_, links, *context_, trayIcon_);
    loaded_.reset();
}

int TConnectionControl::StartECRThreads() {
    if (threads_.empty()) {
        dialogs_.ShowMessage(MessageKind::Warning, shell_text::kNoRegisters);
        return 2;
    }
    // LinkLock lives for the whole process; connecting only starts its users. Each port is
    // opened under it; taken once for the whole connect, the ports open one after the other at
    // once, instead of each waiting behind a turn of every register already started (with 24
    // registers that made the last one wait many seconds for its first poll). The workers begin
    // their turns when all are open. A port that is not there is not reported here: its worker
    // keeps trying it, and the status and its notice say why it does not open.
    std::lock_guard<FairRecursiveMutex> connecting(LinkLock);
    bool any = false;
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        started_[i] = threads_[i]->StartLink();
        any = any || started_[i];
    }
    return any ? 0 : 1;
}

bool TConnectionControl::AnyReceiptOpen() const {
    return !OpenReceipts().empty();
}

std::vector<TConnectionControl::OpenReceipt> TConnectionControl::OpenReceipts() const {
    std::vector<OpenReceipt> open;
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        const TSerialExtended& link = threads_[i]->Link();
        // A closing line whose append failed is a receipt the register believes recorded.
        if (started_[i] && (!link.PendingTranLines.Empty() || !link.PendingBonLines.Empty())) {
            open.push_back({link.LogicalNb, link.CommPort,
                            link.PendingTranLines.Count() + link.PendingBonLines.Count()});
        }
    }
    return open;
}

void TConnectionControl::RefuseStop(Refusal refusal) {
    if (refusal == Refusal::MessageBox) {
        dialogs_.ShowMessage(MessageKind::Error, shell_text::kReceiptsOpen);
    } else {
        dialogs_.Log(shell_text::kReceiptsOpen);
    }
}

bool TConnectionControl::StopECRThreads(Refusal refusal) {
    if (AnyReceiptOpen()) {
        RefuseStop(refusal);
        return true;
    }
    // The workers stop one after the other; a register later in the list may open a receipt
    // while the earlier ones are being stopped. So the check is made again once all have
    // stopped, and a receipt found then makes the stopped workers serve again.
    std::vector<std::size_t> stopped;
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        if (started_[i]) {
            threads_[i]->StopLink();
            stopped.push_back(i);
        }
    }
    if (AnyReceiptOpen()) {
        for (std::size_t i : stopped) {
            started_[i] = threads_[i]->StartLink();
        }
        RefuseStop(refusal);
        return true;
    }
    for (std::size_t i : stopped) {
        started_[i] = false;
    }
    return false;
}

void TConnectionControl::ShowConnectState(bool connected) {
    view_.ShowConnectState(connected);
}

void TConnectionControl::FreeECRObjects() {
    // The workers go first: a running worker may be using the article holder.
    for (auto& worker : threads_) {
        worker.reset();
    }
    threads_.clear();
    started_.clear();
    pluHolder_.reset();
    FreeJournal();
}

void TConnectionControl::OpenJournal() {
    if (context_ == nullptr || journal_) {
        return;
    }
    // Beside the transaction file; where it was last used (another transaction file's folder)
    // is read first and carried here, so that no changed setting strands what it holds.
    const std::string folder =
        AbsoluteFolder(ReceiptJournal::FolderBeside(AppSettings.ReceiptDetail));
    const std::string pointer = JournalPointerBeside(configPath_);
    journal_ = std::make_unique<ReceiptJournal>(folder, trayIcon_);
    try {
        loaded_ = journal_->Load(RememberedJournalFolder(pointer));
    } catch (const JournalError& e) {
        // Without a journal nothing told to a register could be kept: the workers are not
        // started and the user learns why (a second program on the same folder is named).
        dialogs_.ShowMessage(MessageKind::Error, std::string("Eroare: ") + e.what() + "!");
        journal_.reset();
        throw;
    }
    RememberJournal(pointer, folder);
    context_->UseJournal(journal_.get());
}

void TConnectionControl::RememberJournal(const std::string& pointer, const std::string& folder) {
    std::string error;
    if (!RememberJournalFolder(pointer, folder, error)) {
        // The journal works; only a later change of the transaction file's path could then
        // leave it behind unread, which the user should hear of now.
        trayIcon_.ShowNotice("Atentie",
                             "Locul jurnalului nu poate fi retinut (" + error +
                                 "). Nu schimbati calea fisierului de tranzactii.",
                             30, NoticeIcon::Warning);
    }
}

void TConnectionControl::FreeJournal() {
    // Only after the workers: what they queued is written by the journal's destructor.
    if (context_ != nullptr && journal_) {
        context_->UseJournal(nullptr);
    }
    journal_.reset();
    loaded_.reset();
}

void TConnectionControl::ConnectAction() {
    if (Connected || phase_ != Phase::Running) {
        return;
    }
    Connected = StartECRThreads() == 0;
    ShowConnectState(Connected);
}

void TConnectionControl::DisconnectAction() {
    if (!Connected || phase_ != Phase::Running) {
        return;
    }
    Connected = StopECRThreads();
    ShowConnectState(Connected);
}

void TConnectionControl::ConnectButtonAction() {
    if (Connected) {
        DisconnectAction();
    } else {
        ConnectAction();
    }
}

bool TConnectionControl::CloseQuery(bool ask, Refusal refusal) {
    if (phase_ == Phase::Ended) {
        return true;
    }
    if (phase_ != Phase::Running) {
        return false;  // the start-up decides how it ends
    }
    if (ask && !dialogs_.Confirm(shell_text::kConfirmClose)) {
        return false;
    }
    if (phase_ != Phase::Running) {
        return phase_ == Phase::Ended;  // a stop request ended the program meanwhile
    }
    if (Connected) {
        if (StopECRThreads(refusal)) {
            return false;
        }
        Connected = false;
    }
    SaveSettings();
    FreeECRObjects();
    phase_ = Phase::Ended;
    return true;
}

void TConnectionControl::EndNow() {
    if (phase_ != Phase::Running) {
        return;
    }
    // The workers first, so that nothing more is told to a register; their lines are final.
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        if (started_[i]) {
            threads_[i]->StopLink();
        }
    }
    std::vector<std::string> open;
    for (const OpenReceipt& receipt : OpenReceipts()) {
        open.push_back("casa " + std::to_string(receipt.logicalNb) + " (" + receipt.port + ", " +
                       std::to_string(receipt.lines) +
                       (receipt.lines == 1 ? " linie)" : " linii)"));
    }
    const bool journal = journal_ != nullptr;
    std::fill(started_.begin(), started_.end(), false);
    Connected = false;
    if (!open.empty()) {
        dialogs_.Log(shell_text::EndedWithOpenReceipts(open, journal));
    }
    // Then the journal (freed with the workers) writes what they queued, before anything else
    // takes the time the system allows.
    FreeECRObjects();
    SaveSettings();
    phase_ = Phase::Ended;
}

TConnectionControl::StopResult TConnectionControl::RequestStop(bool mustEnd) {
    switch (phase_) {
        case Phase::Created:
        case Phase::Starting:
            stopDuringStartup_ = true;
            dialogs_.DismissMessage();
            return StopResult::StartupAborted;
        case Phase::Ended:
            return StopResult::AlreadyEnded;
        case Phase::Running:
            break;
    }
    if (mustEnd) {
        EndNow();
        return StopResult::Ended;
    }
    return CloseQuery(false, Refusal::LogLine) ? StopResult::Ended : StopResult::Refused;
}

void TConnectionControl::SettingsChanged() {
    if (loading_ || phase_ != Phase::Running) {
        return;
    }
    SaveSettings();
}

void TConnectionControl::SaveAndReloadRegisterList() {
    if (phase_ != Phase::Running) {
        return;
    }
    try {
        SaveTableToFile(*registerList_, AppSettings.ECRList);
    } catch (const std::exception& e) {
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        view_.ShowRegisterList();
        return;
    }
    DisplayParams();
}

void TConnectionControl::DeleteRegister(std::optional<std::size_t> row) {
    if (phase_ != Phase::Running || !dialogs_.Confirm(shell_text::kConfirmDelete)) {
        return;
    }
    if (phase_ != Phase::Running) {
        return;  // a stop request ended the program while the question was open
    }
    try {
        if (row) {
            MoveToRow(*registerList_, *row);
        }
        registerList_->Delete();
    } catch (const std::exception& e) {
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return;
    }
    SaveAndReloadRegisterList();
}

}  // namespace tallyport
