#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <thread>

#include "app/CashRegDialog.h"
#include "app/ConnectorImages.h"
#include "app/FileFilter.h"
#include "app/MainWindow.h"
#include "app/RegisterGridModel.h"
#include "app/TrayNotices.h"
#include "base/BuildInfo.h"
#include "control/ConsoleOutput.h"
#include "control/StatusMonitor.h"
#include "simulator/EcrSimulator.h"
#include "store/AppSettings.h"
#include "support/ShellTestSupport.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::Exists;
using test::FakeDialogs;
using test::ReadFile;
using test::RegisterLine;
using test::TempFolder;
using test::UseSettingsIn;
using test::WriteFile;
using Result = TConnectionControl::StartupResult;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        UseSettingsIn(dir);
        WriteFile(AppSettings.PLU, "");
    }

    // The help button's "open" requests land in `opened` instead of the desktop.
    void RecordOpenedUrls(std::vector<QUrl>& opened) {
        Window().SetUrlOpener([&opened](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }

    TfMain& Window() {
        if (!window) {
            window = std::make_unique<TfMain>(configPath, dialogs, log, ProgramHandlers{},
                                              QString::fromStdString(dir.Path().string()));
        }
        return *window;
    }

    template <class W>
    W* Find(const char* name) {
        W* widget = Window().findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // Leaving an edit for another control of the window.
    void Leave(QLineEdit* edit) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }

    std::vector<QString> GridColumn(int column) {
        auto* grid = Find<QTableView>("dbgCashReg");
        std::vector<QString> values;
        for (int row = 0; row < grid->model()->rowCount(); ++row) {
            values.push_back(grid->model()->index(row, column).data().toString());
        }
        return values;
    }

    // Runs `act` on the register dialog once it is shown modally by `open`.
    void WithRegisterDialog(const std::function<void()>& open,
                            const std::function<void(TfCashReg&)>& act) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TfCashReg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seen = true;
            act(*dialog);
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        open();
        EXPECT_TRUE(seen);
    }

    TempFolder dir;
    std::string configPath = dir.File("Tallyport.ini");
    FakeDialogs dialogs;
    ConsoleLog log{2};
    std::unique_ptr<TfMain> window;
};

TEST_F(MainWindowTest, LayoutCaptionsAndTabsAreAllVisible) {
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    TfMain& w = Window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tallyport versiunea ") + build_info::kVersion);
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_GE(w.width(), 442);
    EXPECT_GE(w.height(), 273);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowSystemMenuHint);

    auto* tabs = Find<QTabWidget>("pcMain");
    const QStringList captions = {"Case de Marcat", "Coduri Cantar", "Interfata BackOffice",
                                  "Alte Setari", "Autor..."};
    ASSERT_EQ(tabs->count(), captions.size());
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_EQ(tabs->tabText(i), captions[i]);
        // Every tab whole on the bar: no scroll arrows, nothing cut.
        EXPECT_LE(tabs->tabBar()->tabRect(i).right(), tabs->tabBar()->width()) << i;
        EXPECT_GE(tabs->tabBar()->tabRect(i).width(),
                  tabs->tabBar()->fontMetrics().horizontalAdvance(captions[i]));
    }
    EXPECT_FALSE(tabs->usesScrollButtons());
    EXPECT_EQ(tabs->currentIndex(), 0);

    auto* grid = Find<QTableView>("dbgCashReg");
    const QStringList titles = {"Nr.Logic", "Serie Fiscala", "Port Comunicatie", "Model",
                                "Observatii"};
    const int widths[] = {50, 70, 90, 187};
    ASSERT_EQ(grid->model()->columnCount(), 6);
    EXPECT_EQ(grid->model()->headerData(5, Qt::Horizontal).toString(), "Stare");
    // Every column, the status included, fits without scrolling sideways.
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    EXPECT_LE(grid->horizontalHeader()->length(), grid->viewport()->width());
    EXPECT_GE(grid->columnWidth(5),
              grid->fontMetrics().horizontalAdvance(
                  "nu se deschide, se reincearca, ultimul cadru acum 59 min"));
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), titles[c]);
        if (c < 4) {
            EXPECT_GE(grid->columnWidth(c), widths[c]);
            EXPECT_GE(grid->columnWidth(c), grid->fontMetrics().horizontalAdvance(titles[c]));
        }
    }
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(grid->showGrid());
    EXPECT_TRUE(grid->verticalHeader()->isVisible());

    EXPECT_EQ(Find<QPushButton>("btInsert")->text(), "&Adauga");
    EXPECT_EQ(Find<QPushButton>("btEdit")->text(), "&Modifica");
    EXPECT_EQ(Find<QPushButton>("btDelete")->text(), "&Sterge");
    EXPECT_EQ(Find<QPushButton>("btHelp")->text(), "&Help");
    EXPECT_EQ(Find<QPushButton>("btClose")->text(), "Iesire");
    EXPECT_EQ(Find<QCheckBox>("chkRecSepFiles")->text(),
              "Inregistrare de fisiere de vanzari separate pentru fiecare casa de marcat "
              "conectata");
    EXPECT_EQ(Find<QCheckBox>("chkRecDecInFile")->text(),
              "Inregistrare sume cu zecimale in fisierele aplicatiei");
    EXPECT_NE(Window().findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(Window().findChild<QGroupBox*>()->title(), " Tranzactii Carte de Credit ");
    // Each check box fits the window with its whole caption.
    tabs->setCurrentIndex(3);
    QApplication::processEvents();
    for (const char* name :
         {"chkRecDiscount", "chkRecDueMultipay", "chkRecSepFiles", "chkRecDecInFile"}) {
        auto* box = Find<QCheckBox>(name);
        EXPECT_GE(box->width(), box->sizeHint().width()) << name;
    }
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowIsShownAtStartup) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());  // offscreen platform
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    EXPECT_TRUE(Window().isVisible());
    // The hint first, then the registers' summary.
    EXPECT_EQ(Window().TrayIcon().toolTip(), "Tallyport\nnici o casa de marcat");
    EXPECT_EQ(dialogs.fileDialogDirs.size(), 0u);
}

TEST_F(MainWindowTest, ThePrefixSampleFollowsThePrefixHoweverOftenShown) {
    AppSettings.Prefix = 27;
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    auto* sample = Find<QLabel>("lBarcode");
    auto* prefix = Find<QLineEdit>("ePrefix");
    EXPECT_EQ(sample->text(), "27 12345 12345 1");
    EXPECT_EQ(prefix->text(), "27");

    prefix->setText("5");
    Leave(prefix);
    EXPECT_EQ(AppSettings.Prefix, 5);
    EXPECT_NE(ReadFile(configPath).find("Prefix=5"), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        Window().Control().DisplayParams();
        EXPECT_EQ(sample->text(), "5 12345 12345 1");
    }
    // The card limits show their defaults.
    EXPECT_EQ(Find<QLineEdit>("eCardFrom")->text(), "0");
    EXPECT_EQ(Find<QLineEdit>("eCardTo")->text(), "100000000");
}

TEST_F(MainWindowTest, APrefixThatIsNoIntegerKeepsTheEarlierOne) {
    WriteFile(AppSettings.ECRList, RegisterLine(1, "/nonexistent/tty1"));
    ASSERT_EQ(Window().Startup(), Result::Running);
    auto* prefix = Find<QLineEdit>("ePrefix");
    prefix->setText("abc");
    Leave(prefix);
    EXPECT_EQ(AppSettings.Prefix, 24);
    EXPECT_NE(ReadFile(configPath).find("Prefix=24"), std::string::npos);
    EXPECT_EQ(prefix->text(), "abc");  // the typed text stays until the settings are shown
    // Leaving a setting rewrites the register list with the same content.
    EXPECT_EQ(ReadFile(AppSettings.ECRList), RegisterLine(1, "/nonexistent/tty1"));

    // An emptied file name is stored empty; the loaded article table stays as it is.
    auto* plu = Find<QLineEdit>("ePLUFile");
    plu->setText("");
    Leave(plu);
    EXPECT_EQ(AppSettings.PLU, "");
    EXPECT_NE(ReadFile(configPath).find("PLU=\r\n"), std::string::npos);
    EXPECT_EQ(Window().Control().PluHolder()->FileName(), dir.File("PLU.txt"));

    prefix->setText("$1A");
    Leave(prefix);
    EXPECT_EQ(AppSettings.Prefix, 26);
    // A card limit that is no number keeps its value as well.
    auto* max = Find<QLineEdit>("eCardTo");
    max->setText("lots");
    Leave(max);
    EXPECT_EQ(AppSettings.Max, 100000000);
    max->setText("2500.5");
    Leave(max);
    EXPECT_EQ(AppSettings.Max, 2500.5);
}

TEST_F(MainWindowTest, ACheckBoxClickWritesAtOnceButNotDuringStartup) {
    WriteFile(AppSettings.ECRList, "");
    dialogs.onMessage = [this](const test::Shown&) {
        // The empty-list warning shows while the start-up runs.
        QTest::mouseClick(Find<QCheckBox>("chkRecSepFiles"), Qt::LeftButton);
    };
    ASSERT_EQ(Window().Startup(), Result::Running);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(Exists(configPath));
    EXPECT_FALSE(AppSettings.RecSepFiles);

    dialogs.onMessage = nullptr;
    auto* box = Find<QCheckBox>("chkRecDecInFile");
    EXPECT_FALSE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(AppSettings.RecDecimals);
    const std::string config = ReadFile(configPath);
    EXPECT_NE(config.find("RecDecimals=1"), std::string::npos);
    EXPECT_NE(config.find("PLU=" + AppSettings.PLU), std::string::npos);
}

TEST_F(MainWindowTest, TheGridShowsTheRegistersInLogicalOrder) {
    WriteFile(AppSettings.ECRList, RegisterLine(5, "/nonexistent/tty5") +
                                       RegisterLine(2, "/nonexistent/tty2") +
                                       RegisterLine(9, "/nonexistent/tty9"));
    ASSERT_EQ(Window().Startup(), Result::Running);
    EXPECT_EQ(GridColumn(0), (std::vector<QString>{"2", "5", "9"}));
    EXPECT_EQ(GridColumn(1), (std::vector<QString>{"DA02", "DA05", "DA09"}));
    EXPECT_EQ(GridColumn(2)[0], QString("/nonexistent/tty2"));
    EXPECT_EQ(GridColumn(3)[1], "Datecs MP55");
    EXPECT_EQ(GridColumn(4)[2], "CASA 9");
    auto* grid = Find<QTableView>("dbgCashReg");
    EXPECT_EQ(grid->model()->headerData(0, Qt::Vertical).toString(), QString(QChar(0x25B6)));
    grid->selectRow(2);
    EXPECT_EQ(grid->model()->headerData(2, Qt::Vertical).toString(), QString(QChar(0x25B6)));
    EXPECT_EQ(grid->model()->headerData(0, Qt::Vertical).toString(), "");
}

TEST_F(MainWindowTest, AddAndEditThroughTheDialogWithDuplicateRefusal) {
    WriteFile(AppSettings.ECRList,
              RegisterLine(1, "/nonexistent/tty1") + RegisterLine(3, "/nonexistent/tty3"));
    ASSERT_EQ(Window().Startup(), Result::Running);
    // The ports are not there: the workers try them until a disconnect, after which the list
    // can be edited.
    ASSERT_TRUE(Connected);
    Window().Control().DisconnectAction();
    ASSERT_FALSE(Connected);
    auto* insert = Find<QPushButton>("btInsert");
    WithRegisterDialog([&] { QTest::mouseClick(insert, Qt::LeftButton); },
                       [](TfCashReg& dialog) {
                           EXPECT_EQ(dialog.windowTitle(), "Adaugare casa de marcat...");
                           dialog.findChild<QLineEdit*>("eLogicNo")->setText("2");
                           dialog.findChild<QComboBox*>("cbPort")->setEditText("COM4");
                           QTest::keyClicks(dialog.findChild<QLineEdit*>("eCashPoint"), "bar");
                           dialog.btSaveClick();
                       });
    EXPECT_EQ(GridColumn(0), (std::vector<QString>{"1", "2", "3"}));
    EXPECT_EQ(GridColumn(4)[1], "BAR");
    EXPECT_NE(ReadFile(AppSettings.ECRList).find("2,Datecs MP55,4800,8,None,1,COM4,,BAR\r\n"),
              std::string::npos);

    // Register 3 opened for change, given register 1's number: refused.
    Find<QTableView>("dbgCashReg")->selectRow(2);
    WithRegisterDialog([&] { QTest::mouseClick(Find<QPushButton>("btEdit"), Qt::LeftButton); },
                       [](TfCashReg& dialog) {
                           EXPECT_EQ(dialog.windowTitle(), "Editare casa de marcat...");
                           auto* number = dialog.findChild<QLineEdit*>("eLogicNo");
                           EXPECT_EQ(number->text(), "3");
                           number->setText("1");
                           dialog.btSaveClick();
                       });
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.back().kind, MessageKind::Information);
    EXPECT_EQ(GridColumn(0), (std::vector<QString>{"1", "2", "3"}));

    // An aborted add still saves the list and shows it as read back.
    std::filesystem::remove(AppSettings.ECRList);
    WithRegisterDialog([&] { QTest::mouseClick(insert, Qt::LeftButton); },
                       [](TfCashReg& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_TRUE(Exists(AppSettings.ECRList));
    EXPECT_EQ(GridColumn(0), (std::vector<QString>{"1", "2", "3"}));
}

TEST_F(MainWindowTest, ConnectButtonAndTrayMenuFollowTheConnection) {
    sim::EcrSimulator reg(1);
    WriteFile(AppSettings.ECRList, RegisterLine(1, reg.PortName()));
    ASSERT_EQ(Window().Startup(), Result::Running);
    ASSERT_TRUE(Connected);
    auto* button = Find<QPushButton>("btConnect");
    auto* aConnect = Find<QAction>("aConnect");
    auto* aDisconnect = Find<QAction>("aDisconnect");
    auto* aOptions = Find<QAction>("aOptions");
    auto* aExit = Find<QAction>("aExit");
    const auto image = [](int index) { return ConnectorImage(index, 16).toImage(); };

    EXPECT_EQ(button->text(), "&Deconectare");
    EXPECT_FALSE(aConnect->isEnabled());
    EXPECT_TRUE(aDisconnect->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btInsert")->isEnabled());
    EXPECT_FALSE(Find<QTableView>("dbgCashReg")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("ePrefix")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btBrowseTranFile")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkRecDiscount")->isEnabled());
    EXPECT_EQ(Window().TrayIcon().icon().pixmap(16, 16).toImage(), image(kImageConnected));

    // The tray menu holds the window's own actions, in order.
    const QList<QAction*> entries = Window().TrayMenu().actions();
    ASSERT_EQ(entries.size(), 6);
    EXPECT_EQ(entries[0], aOptions);
    EXPECT_TRUE(entries[1]->isSeparator());
    EXPECT_EQ(entries[2], aConnect);
    EXPECT_EQ(entries[3], aDisconnect);
    EXPECT_TRUE(entries[4]->isSeparator());
    EXPECT_EQ(entries[5], aExit);
    EXPECT_EQ(aOptions->text(), "Optiuni...");
    EXPECT_EQ(aConnect->text(), "Conecteaza");
    EXPECT_EQ(aDisconnect->text(), "Deconecteaza");
    EXPECT_EQ(aExit->text(), "Iesire");

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(Connected);
    EXPECT_EQ(button->text(), "&Conectare");
    EXPECT_TRUE(aConnect->isEnabled());
    EXPECT_FALSE(aDisconnect->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btInsert")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("eCardTo")->isEnabled());
    EXPECT_EQ(Window().TrayIcon().icon().pixmap(16, 16).toImage(), image(kImageDisconnected));
    const std::size_t polls = reg.PollCount();

    entries[2]->trigger();  // "Conecteaza" from the tray
    EXPECT_TRUE(Connected);
    EXPECT_EQ(button->text(), "&Deconectare");
    EXPECT_TRUE(reg.WaitForPolls(polls + 2, 5s));
    entries[3]->trigger();  // "Deconecteaza"
    EXPECT_FALSE(Connected);

    Window().hide();
    entries[0]->trigger();  // "Optiuni..."
    EXPECT_TRUE(Window().isVisible());

    entries[5]->trigger();  // "Iesire": the close query
    EXPECT_EQ(dialogs.questions.back(), "Confirmati inchiderea Tallyport?");
    EXPECT_TRUE(Window().Control().Ended());
    EXPECT_TRUE(Exists(configPath));
}

TEST_F(MainWindowTest, TheUsersFilesComeBackByteForByte) {
    // An older shop's files in code page 1250: names and register texts that are not UTF-8
    // (0xE9 e-acute, 0xBA s-cedilla, 0xAA S-cedilla), beside a UTF-8 remark (A-breve).
    const std::string plu = dir.File("PLU\xE9.txt");
    WriteFile(plu, "0000000000123,01,1,2.5,3,P\xC3INE\r\n");
    const std::string config =
        "[Files]\r\nPLU=" + plu + "\r\nReceiptMaster=" + dir.File("Bon\xBA.txt") +
        "\r\nReceiptDetail=" + dir.File("Tran.txt") +
        "\r\nBackup=\\Backup\xE9\\\r\nECRList=" + dir.File("ECRs.dat") +
        "\r\n[CardOptions]\r\nMin=0\r\nMax=100000000\r\n[Scale]\r\nPrefix=24\r\n[Options]\r\n"
        "RecDiscount=1\r\nRecAmount=1\r\nRecSepFiles=0\r\nRecDecimals=0\r\n";
    // The first register has no parity, so no worker is built and no serial port is opened.
    const std::string list =
        "1,Datecs MP55,9600,8,,1,COM1,DA01,CASA \xC4\x82\r\n"
        "2,Datecs MP500,19200,8,Even,1,COM2,DA\xE9"
        "02,CASA \xAAOSEA\r\n";
    WriteFile(configPath, config);
    WriteFile(dir.File("ECRs.dat"), list);
    AppSettings = AppSettingsRecord{};
    ASSERT_FALSE(LoadConfig(configPath));

    // Start.
    ASSERT_EQ(Window().Startup(), Result::Running);
    ASSERT_FALSE(Connected);
    EXPECT_EQ(Find<QLineEdit>("ePLUFile")->text(),
              QString::fromStdString(dir.File("PLU")) + QString::fromUtf8("\u00E9.txt"));
    EXPECT_EQ(GridColumn(4), (std::vector<QString>{QString::fromUtf8("CASA \u0102"),
                                                   QString::fromUtf8("CASA \u015EOSEA")}));
    EXPECT_EQ(GridColumn(1)[1], QString::fromUtf8("DA\u00E902"));

    // A control exit: every leave saves the settings and the register list.
    for (const char* name : {"ePLUFile", "eBonFile", "eTranFile", "ePrefix"}) {
        Leave(Find<QLineEdit>(name));
    }
    EXPECT_EQ(ReadFile(configPath), config);
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), list);

    // The dialog, saved without a change.
    Find<QTableView>("dbgCashReg")->selectRow(1);
    WithRegisterDialog([&] { QTest::mouseClick(Find<QPushButton>("btEdit"), Qt::LeftButton); },
                       [](TfCashReg& dialog) { dialog.btSaveClick(); });
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"Confirmati modificarea datelor pentru casa de marcat?"});
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), list);

    // Exit.
    Window().aExitExecute();
    EXPECT_TRUE(Window().Control().Ended());
    EXPECT_EQ(ReadFile(configPath), config);
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), list);
    EXPECT_EQ(ReadFile(plu), "0000000000123,01,1,2.5,3,P\xC3INE\r\n");
}

TEST_F(MainWindowTest, AChosenFileKeepsTheBytesOfItsName) {
    WriteFile(AppSettings.ECRList, "");
    AppSettings.PLU = dir.File("PLU\xE9.txt");  // code page 1250
    WriteFile(AppSettings.PLU, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    // The name the file dialog gives is UTF-8, as the file system holds it.
    const std::string chosen = "/srv/bo/Articole \xC4\x83.txt";
    dialogs.files = {std::optional<std::string>(chosen)};
    QTest::mouseClick(Find<QPushButton>("btBrowsePLUFile"), Qt::LeftButton);
    EXPECT_EQ(Find<QLineEdit>("ePLUFile")->text(),
              QString::fromUtf8("/srv/bo/Articole \u0103.txt"));
    EXPECT_EQ(AppSettings.PLU, chosen);
    EXPECT_NE(ReadFile(configPath).find("PLU=" + chosen + "\r\n"), std::string::npos);
    // Leaving the edit afterwards keeps them too.
    Leave(Find<QLineEdit>("ePLUFile"));
    EXPECT_EQ(AppSettings.PLU, chosen);
}

TEST_F(MainWindowTest, ATrayAreaThatAppearsLaterGetsTheIconAndOnlyThenMinimisingHides) {
    WriteFile(AppSettings.ECRList, "");
    bool available = false;
    Window().SetTrayProbe([&available] { return available; });
    ASSERT_EQ(Window().Startup(), Result::Running);
    // No notification area yet: the window is the way in, and minimising keeps it reachable.
    EXPECT_TRUE(Window().isVisible());
    EXPECT_FALSE(Window().TrayIcon().isVisible());
    Window().showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(Window().isVisible());

    // The desktop's notification area appears: the icon follows within a poll.
    available = true;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Window().TrayIcon().isVisible(); }, 10 * TfMain::kTrayPollMs));
    Window().aOptionsExecute();
    EXPECT_TRUE(Window().isVisible());
    Window().showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Window().isVisible(); }, 5000));
    // "Optiuni..." brings it back.
    Window().aOptionsExecute();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_FALSE(Window().isMinimized());
}

TEST_F(MainWindowTest, BrowseChoosesAFileFromTheProgramFolder) {
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    dialogs.files = {std::nullopt, std::optional<std::string>("/srv/bo/Tranzactii.TXT")};
    QTest::mouseClick(Find<QPushButton>("btBrowseTranFile"), Qt::LeftButton);
    EXPECT_FALSE(Exists(configPath));  // cancelled: nothing written
    EXPECT_EQ(Find<QLineEdit>("eTranFile")->text(),
              QString::fromStdString(AppSettings.ReceiptDetail));

    QTest::mouseClick(Find<QPushButton>("btBrowseTranFile"), Qt::LeftButton);
    EXPECT_EQ(Find<QLineEdit>("eTranFile")->text(), "/srv/bo/Tranzactii.TXT");
    EXPECT_EQ(AppSettings.ReceiptDetail, "/srv/bo/Tranzactii.TXT");
    EXPECT_NE(ReadFile(configPath).find("ReceiptDetail=/srv/bo/Tranzactii.TXT"), std::string::npos);
    ASSERT_EQ(dialogs.fileDialogDirs.size(), 2u);
    EXPECT_EQ(dialogs.fileDialogDirs[0], dir.Path().string());
}

TEST_F(MainWindowTest, HelpOpensTheManualAndSaysNothingWhenItIsMissing) {
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    std::vector<QUrl> opened;
    RecordOpenedUrls(opened);
    // The manual is looked for in the current folder, then beside the program.
    TempFolder current;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(current.Path());
    QTest::mouseClick(Find<QPushButton>("btHelp"), Qt::LeftButton);
    const std::size_t openedWithoutManual = opened.size();
    WriteFile(dir.File("ManualECR.htm"), "<html></html>");
    QTest::mouseClick(Find<QPushButton>("btHelp"), Qt::LeftButton);
    WriteFile(current.File("ManualECR.htm"), "<html></html>");
    QTest::mouseClick(Find<QPushButton>("btHelp"), Qt::LeftButton);
    std::filesystem::current_path(previous);

    EXPECT_EQ(openedWithoutManual, 0u);
    EXPECT_EQ(dialogs.messages.size(), 1u);  // only the empty-list warning of the start-up
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(dir.File("ManualECR.htm"))));
    EXPECT_EQ(opened[1],
              QUrl::fromLocalFile(QString::fromStdString(current.File("ManualECR.htm"))));
}

// An installed program's manual is in the install's shared folder, not beside its files.
TEST_F(MainWindowTest, HelpFindsTheManualInTheHelpFolderGiven) {
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    std::vector<QUrl> opened;
    RecordOpenedUrls(opened);
    TempFolder shared;
    TempFolder current;
    Window().SetHelpFolder(QString::fromStdString(shared.Path().string()));
    WriteFile(shared.File("ManualECR.htm"), "<html></html>");
    WriteFile(dir.File("ManualECR.htm"), "<html></html>");  // not looked at any more
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(current.Path());
    QTest::mouseClick(Find<QPushButton>("btHelp"), Qt::LeftButton);
    std::filesystem::current_path(previous);

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(shared.File("ManualECR.htm"))));
}

TEST_F(MainWindowTest, NoticesFromAWorkerThreadAreShownOnTheUserInterfaceThread) {
    WriteFile(AppSettings.ECRList, "");
    ASSERT_EQ(Window().Startup(), Result::Running);
    QThread* shownOn = nullptr;
    QString shownTitle;
    QObject::connect(&Window().Notices(), &TrayNotices::NoticeShown,
                     [&](const QString& title, const QString&, int) {
                         shownOn = QThread::currentThread();
                         shownTitle = title;
                     });
    std::thread worker([this] {
        Window().Notices().ShowNotice(std::string(80, 'T'), "Se solicita vanzarea...", 10,
                                      NoticeIcon::Error);
    });
    worker.join();  // the worker did not wait for the user interface
    EXPECT_EQ(shownOn, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(shownOn != nullptr, 5000);
    EXPECT_EQ(shownOn, QApplication::instance()->thread());
    EXPECT_EQ(shownTitle, QString(63, 'T'));
}

TEST_F(MainWindowTest, StatusColumnTooltipAndNoticesFollowALostAndReturningPort) {
    const std::string link = dir.File("ecr2");
    sim::EcrSimulator reg1(1);
    sim::EcrSimulator reg2(sim::EcrSimulator::Options{2, link, {}});
    WriteFile(AppSettings.ECRList, RegisterLine(1, reg1.PortName()) + RegisterLine(2, link) +
                                       RegisterLine(3, dir.File("no-such-port")));
    std::vector<QString> titles;
    QObject::connect(&Window().Notices(), &TrayNotices::NoticeShown,
                     [&](const QString& title, const QString&, int) { titles.push_back(title); });
    ASSERT_EQ(Window().Startup(), Result::Running);  // shown: no notification area offscreen
    ASSERT_TRUE(Window().isVisible());
    auto* gridTimer = Window().findChild<QTimer*>("tmGridStatus");
    auto* lookTimer = Window().findChild<QTimer*>("tmStatus");
    ASSERT_NE(gridTimer, nullptr);
    ASSERT_NE(lookTimer, nullptr);
    EXPECT_TRUE(gridTimer->isActive());
    EXPECT_TRUE(lookTimer->isActive());
    const auto status = [this] { return GridColumn(RegisterGridModel::kStare); };
    EXPECT_EQ(status()[0], "conectata, nici un cadru");
    EXPECT_EQ(status()[2], "nu se deschide, se reincearca, nici un cadru");
    // Why, in the system's words, is the cell's tip.
    EXPECT_EQ(Window()
                  .findChild<QTableView*>("dbgCashReg")
                  ->model()
                  ->index(2, RegisterGridModel::kStare)
                  .data(Qt::ToolTipRole)
                  .toString(),
              "No such file or directory");
    QTRY_COMPARE_WITH_TIMEOUT(titles.size(), std::size_t(1), 3000);
    EXPECT_EQ(titles[0], "Casa 3: port nedeschis");

    // A frame from register 1 shows in its row within about a second.
    ASSERT_TRUE(reg1.Exchange("S;X;5", 2s).acked);
    QTRY_VERIFY_WITH_TIMEOUT(status()[0].startsWith("conectata, ultimul cadru acum "), 3000);

    reg2.Unplug();
    QTRY_COMPARE_WITH_TIMEOUT(status()[1], QString("port pierdut, nici un cadru"), 4000);
    QTRY_COMPARE_WITH_TIMEOUT(Window().TrayIcon().toolTip(),
                              QString("Tallyport\n1 casa conectata, 1 port pierdut, 1 port care "
                                      "nu se deschide"),
                              3000);
    QTRY_COMPARE_WITH_TIMEOUT(titles.size(), std::size_t(2), 3000);
    EXPECT_EQ(titles[1], "Casa 2: port pierdut");

    // Hidden, the grid is not refreshed; the tray still follows the registers.
    Window().hide();
    EXPECT_FALSE(gridTimer->isActive());
    EXPECT_TRUE(lookTimer->isActive());
    reg2.Plug();
    QTRY_COMPARE_WITH_TIMEOUT(Window().TrayIcon().toolTip(),
                              QString("Tallyport\n2 case conectate, 1 port care nu se deschide"),
                              5000);
    EXPECT_EQ(status()[1], "port pierdut, nici un cadru") << "refreshed while hidden";
    QTRY_COMPARE_WITH_TIMEOUT(titles.size(), std::size_t(3), 3000);
    EXPECT_EQ(titles[2], "Casa 2: port revenit");
    Window().aOptionsExecute();
    EXPECT_TRUE(gridTimer->isActive());
    EXPECT_EQ(status()[1], "conectata, nici un cadru");

    // Each change was told once.
    QTest::qWait(1200);
    EXPECT_EQ(titles.size(), 3u);
    Window().Control().DisconnectAction();
    EXPECT_EQ(status()[0].left(11), "deconectata");
    // The register whose port never opened was tried until the disconnect stopped it too.
    EXPECT_EQ(Window().TrayIcon().toolTip(), "Tallyport\n3 case deconectate");
}

TEST_F(MainWindowTest, StatusFileKeptWhileRunningAndRemovedAtTheEnd) {
    sim::EcrSimulator reg(1);
    WriteFile(AppSettings.ECRList, RegisterLine(1, reg.PortName()));
    const std::string file = dir.File("status.json");
    StatusFileHeader header;
    header.pid = 77;
    Window().KeepStatusFile(file, header);
    ASSERT_EQ(Window().Startup(), Result::Running);
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(file).find("\"state\":\"open\"") != std::string::npos, 3000);
    EXPECT_NE(ReadFile(file).find("\"pid\":77"), std::string::npos);
    EXPECT_NE(ReadFile(file).find("\"connected\":true"), std::string::npos);
    Window().aExitExecute();
    ASSERT_TRUE(Window().Control().Ended());
    window.reset();
    EXPECT_FALSE(Exists(file));
}

TEST(FileFilter, PipeFormBecomesQtFilters) {
    EXPECT_EQ(QtFileFilter(QString::fromLatin1(kBackOfficeFileFilter)),
              "Fisiere text (TXT) (*.TXT);;Fisiere MS Excel (CSV) (*.CSV);;"
              "Orice tip de fisiere (*)");
    EXPECT_EQ(QtFileFilter("Doua|*.a;*.b"), "Doua (*.a *.b)");
    EXPECT_EQ(QtFileFilter(""), "");
}

TEST(ConnectorImages, TheTwoImagesDiffer) {
    const QImage connected = ConnectorImage(kImageConnected).toImage();
    const QImage disconnected = ConnectorImage(kImageDisconnected).toImage();
    EXPECT_EQ(connected.size(), QSize(16, 16));
    EXPECT_NE(connected, disconnected);
    // Blue dominates the first, red appears only on the second.
    auto count = [](const QImage& image, auto test) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    auto red = [](const QColor& c) { return c.alpha() > 128 && c.red() > 150 && c.blue() < 100; };
    auto blue = [](const QColor& c) { return c.alpha() > 128 && c.blue() > 150 && c.red() < 100; };
    EXPECT_GT(count(connected, blue), 10);
    EXPECT_EQ(count(connected, red), 0);
    EXPECT_GT(count(disconnected, red), 10);
}

}  // namespace
}  // namespace tallyport
