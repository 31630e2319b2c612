#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "control/ConnectionControl.h"
#include "control/DesktopProgram.h"
#include "control/ShellView.h"
#include "control/StatusFile.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTimer;

namespace tallyport {

class ConsoleLog;
class RegisterGridModel;
class TrayNotices;

// The main window with its tray icon: the register grid and its buttons, the scale barcode
// prefix, the back-office file names, the card limits and recording options, connect, help and
// exit. It owns the tray icon, the notices on it and the desktop session (the connection control,
// which owns the workers, and the registers' status). It draws and forwards; what is decided is
// decided in the session. User-interface thread only, except the notices (any thread).
class TfMain final : public QWidget, public ShellView {
    Q_OBJECT
public:
    TfMain(std::string configPath, UserDialogs& dialogs, ConsoleLog& log, ProgramHandlers handlers,
           QString programDir, QWidget* parent = nullptr);
    ~TfMain() override;

    // The start-up handler; shows the window when there is no notification area to reach it.
    TConnectionControl::StartupResult Startup();
    // Closes the program after an orderly end: tray icon and window go, the message loop ends.
    void EndProgram();
    // Keeps the status file for `tallyport --status` from now on: the user's, or `path`.
    void KeepStatusFile();
    void KeepStatusFile(std::string path, StatusFileHeader header);
    // One look at the registers: notices of lost and returning ports, the tray's summary, the
    // status file. Runs twice a second once started; the grid's status column is refreshed
    // every second while the window is visible only.
    void RefreshStatus();
    StatusMonitor& Status() { return session_->Monitor(); }
    // Where the manual is when it is not in the working folder (default: `programDir`).
    void SetHelpFolder(QString folder) { helpDir_ = std::move(folder); }

    TConnectionControl& Control() { return session_->Control(); }
    TrayNotices& Notices() { return *notices_; }
    QSystemTrayIcon& TrayIcon() { return *tray_; }
    QMenu& TrayMenu() { return *trayMenu_; }
    // How the help document is opened (the desktop's "open" by default).
    void SetUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }
    // Whether the desktop has a notification area now (QSystemTrayIcon's answer by default).
    // Set before Startup.
    void SetTrayProbe(std::function<bool()> probe) { trayAvailable_ = std::move(probe); }
    // How often a notification area that is missing is looked for again.
    static constexpr int kTrayPollMs = 1000;

    // ShellView
    void PrepareStartup() override;
    void ShowSettings(const AppSettingsRecord& settings) override;
    void TakeSettings(AppSettingsRecord& settings) override;
    void ShowRegisterList() override;
    void ShowConnectState(bool connected) override;

    // Commands, also reachable from the tray.
    void aOptionsExecute();
    void aExitExecute();
    void btHelpClick();
    void btInsertClick();
    void btEditClick();
    void btDeleteClick();
    void eParamEditExit();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildTray();
    QWidget* BuildCashRegPage();
    QWidget* BuildScalePage();
    QWidget* BuildBackOfficePage();
    QWidget* BuildOtherPage();
    void FixSize();
    void Browse(QLineEdit* edit);
    void OpenRegisterDialog(bool editMode);
    int CurrentGridRow() const;
    std::optional<std::size_t> SelectedRow() const;  // nullopt: no row selected
    void RefreshGrid();
    // Shows the tray icon once a notification area exists; until then looks again now and then.
    void ShowTrayWhenAvailable();

    UserDialogs& dialogs_;
    QString programDir_;
    QString helpDir_;
    QString fileDialogDir_;
    std::function<bool(const QUrl&)> openUrl_;
    std::function<bool()> trayAvailable_;
    QTimer* trayWatch_;

    QAction* aOptions_;
    QAction* aConnect_;
    QAction* aDisconnect_;
    QAction* aExit_;
    QSystemTrayIcon* tray_;
    QMenu* trayMenu_;

    QTabWidget* pcMain_;
    QTableView* dbgCashReg_;
    RegisterGridModel* gridModel_;
    QPushButton* btInsert_;
    QPushButton* btEdit_;
    QPushButton* btDelete_;
    QLabel* lBarcode_;
    QLineEdit* ePrefix_;
    QLineEdit* ePLUFile_;
    QLineEdit* eBonFile_;
    QLineEdit* eTranFile_;
    QPushButton* btBrowsePLUFile_;
    QPushButton* btBrowseBonFile_;
    QPushButton* btBrowseTranFile_;
    QLineEdit* eCardFrom_;
    QLineEdit* eCardTo_;
    QCheckBox* chkRecDiscount_;
    QCheckBox* chkRecDueMultipay_;
    QCheckBox* chkRecSepFiles_;
    QCheckBox* chkRecDecInFile_;
    QPushButton* btConnect_;
    QPushButton* btHelp_;
    QPushButton* btClose_;
    QTimer* tmStatus_;      // the look at the registers, while the program runs
    QTimer* tmGridStatus_;  // the grid's status column, while the window is visible

    // Declared last: destroyed first, so the workers stop before the notices and the tray go.
    std::unique_ptr<TrayNotices> notices_;
    std::unique_ptr<DesktopSession> session_;
};

}  // namespace tallyport
