#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AuthorPage.h"
#include "app/BarcodeDiagram.h"
#include "app/ByteText.h"
#include "app/CashRegDialog.h"
#include "app/ConnectorImages.h"
#include "app/RegisterGridModel.h"
#include "app/TrayNotices.h"
#include "base/BuildInfo.h"
#include "control/RegisterDialogModel.h"
#include "control/SettingsFields.h"
#include "control/StatusText.h"

namespace tallyport {
namespace {

// Sizes of the layout at 8-point type (a line 13 pixels high), scaled to the font in use.
constexpr int kDesignedWidth = 442;
constexpr int kDesignedHeight = 273;
constexpr int kDesignedLineHeight = 13;
constexpr int kGridColumnWidths[] = {50, 70, 90, 187};
constexpr int kStatusLookMs = 500;
constexpr int kGridStatusMs = 1000;

// The program's folder: plain text in the locale's encoding.
std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The texts of the control library (UTF-8) in Qt's strings and back.
QString Shown(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Typed(const QString& text) {
    return text.toUtf8().toStdString();
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

}  // namespace

TfMain::TfMain(std::string configPath, UserDialogs& dialogs, ConsoleLog& log,
               ProgramHandlers handlers, QString programDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      programDir_(std::move(programDir)),
      helpDir_(programDir_),
      openUrl_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      trayAvailable_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QString::fromLatin1(build_info::kProgramCaption));
    setWindowIcon(ConnectorIcon(kImageConnected));
    BuildActions();
    BuildTray();

    pcMain_ = new QTabWidget(this);
    pcMain_->setObjectName(QStringLiteral("pcMain"));
    pcMain_->setUsesScrollButtons(false);
    pcMain_->addTab(BuildCashRegPage(), QStringLiteral("Case de Marcat"));
    pcMain_->addTab(BuildScalePage(), QStringLiteral("Coduri Cantar"));
    pcMain_->addTab(BuildBackOfficePage(), QStringLiteral("Interfata BackOffice"));
    pcMain_->addTab(BuildOtherPage(), QStringLiteral("Alte Setari"));
    auto* author = new AuthorPage;
    author->setObjectName(QStringLiteral("tsAuthor"));
    pcMain_->addTab(author, QStringLiteral("Autor..."));
    pcMain_->setCurrentIndex(0);

    btConnect_ = MakeButton(this, "btConnect", "&Conectare");
    btConnect_->setIcon(ConnectorIcon(kImageConnected));
    btHelp_ = MakeButton(this, "btHelp", "&Help");
    btClose_ = MakeButton(this, "btClose", "Iesire");
    auto* bar = new QHBoxLayout;
    bar->addWidget(btConnect_);
    bar->addWidget(btHelp_);
    bar->addStretch(1);
    bar->addWidget(btClose_);

    auto* layout = new QVBoxLayout(this);
    const int margin = fontMetrics().averageCharWidth();
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(pcMain_, 1);
    layout->addLayout(bar);

    connect(btConnect_, &QPushButton::clicked, this, [this] { Control().ConnectButtonAction(); });
    connect(btHelp_, &QPushButton::clicked, this, &TfMain::btHelpClick);
    connect(btClose_, &QPushButton::clicked, aExit_, &QAction::trigger);

    tmStatus_ = new QTimer(this);
    tmStatus_->setObjectName(QStringLiteral("tmStatus"));
    tmStatus_->setInterval(kStatusLookMs);
    connect(tmStatus_, &QTimer::timeout, this, &TfMain::RefreshStatus);
    tmGridStatus_ = new QTimer(this);
    tmGridStatus_->setObjectName(QStringLiteral("tmGridStatus"));
    tmGridStatus_->setInterval(kGridStatusMs);
    connect(tmGridStatus_, &QTimer::timeout, this, &TfMain::RefreshGrid);

    notices_ = std::make_unique<TrayNotices>(*tray_, log);
    session_ = std::make_unique<DesktopSession>(std::move(configPath), *this, dialogs, *notices_,
                                                std::move(handlers));
    FixSize();
}

TfMain::~TfMain() {
    session_.reset();  // the workers stop before anything they may use goes
}

void TfMain::BuildActions() {
    aOptions_ = new QAction(QStringLiteral("Optiuni..."), this);
    aOptions_->setObjectName(QStringLiteral("aOptions"));
    aConnect_ = new QAction(QStringLiteral("Conecteaza"), this);
    aConnect_->setObjectName(QStringLiteral("aConnect"));
    aDisconnect_ = new QAction(QStringLiteral("Deconecteaza"), this);
    aDisconnect_->setObjectName(QStringLiteral("aDisconnect"));
    aExit_ = new QAction(QStringLiteral("Iesire"), this);
    aExit_->setObjectName(QStringLiteral("aExit"));
    aConnect_->setIcon(ConnectorIcon(kImageConnected));
    aDisconnect_->setIcon(ConnectorIcon(kImageDisconnected));
    connect(aOptions_, &QAction::triggered, this, &TfMain::aOptionsExecute);
    connect(aConnect_, &QAction::triggered, this, [this] { Control().ConnectAction(); });
    connect(aDisconnect_, &QAction::triggered, this, [this] { Control().DisconnectAction(); });
    connect(aExit_, &QAction::triggered, this, &TfMain::aExitExecute);
}

void TfMain::BuildTray() {
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("pmTray"));
    trayMenu_->addAction(aOptions_);
    trayMenu_->addSeparator();
    trayMenu_->addAction(aConnect_);
    trayMenu_->addAction(aDisconnect_);
    trayMenu_->addSeparator();
    trayMenu_->addAction(aExit_);

    tray_ = new QSystemTrayIcon(ConnectorIcon(kImageDisconnected), this);
    tray_->setObjectName(QStringLiteral("TrayIcon"));
    tray_->setToolTip(QStringLiteral("Tallyport"));
    tray_->setContextMenu(trayMenu_);
    trayWatch_ = new QTimer(this);
    trayWatch_->setInterval(kTrayPollMs);
    connect(trayWatch_, &QTimer::timeout, this, &TfMain::ShowTrayWhenAvailable);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    aOptionsExecute();
                }
            });
}

QWidget* TfMain::BuildCashRegPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsCashReg"));
    gridModel_ = new RegisterGridModel(this);
    dbgCashReg_ = new QTableView(page);
    dbgCashReg_->setObjectName(QStringLiteral("dbgCashReg"));
    dbgCashReg_->setModel(gridModel_);
    dbgCashReg_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgCashReg_->setSelectionMode(QAbstractItemView::SingleSelection);
    dbgCashReg_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgCashReg_->setShowGrid(true);
    dbgCashReg_->setWordWrap(false);
    dbgCashReg_->setTabKeyNavigation(false);
    dbgCashReg_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dbgCashReg_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    dbgCashReg_->verticalHeader()->setMinimumWidth(fontMetrics().horizontalAdvance(QChar(0x25B6)) +
                                                   6);
    dbgCashReg_->horizontalHeader()->setHighlightSections(false);
    dbgCashReg_->horizontalHeader()->setStretchLastSection(true);
    const double scale = fontMetrics().height() / double(kDesignedLineHeight);
    const int padding = fontMetrics().averageCharWidth() * 2;
    int gridWidth = 0;
    for (int column = 0; column < 4; ++column) {
        const QString title =
            gridModel_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const int width = std::max(static_cast<int>(kGridColumnWidths[column] * scale),
                                   fontMetrics().horizontalAdvance(title) + padding);
        dbgCashReg_->setColumnWidth(column, width);
        gridWidth += width;
    }
    // The remark shows at least a cash point's usual name without scrolling sideways.
    const int remarkWidth =
        std::max(fontMetrics().horizontalAdvance(QStringLiteral("Observatii")) + padding,
                 fontMetrics().averageCharWidth() * 20);
    dbgCashReg_->setColumnWidth(4, remarkWidth);
    // The status shows whole without scrolling: the grid is disabled, so cannot be scrolled,
    // while connected, which is when the status matters.
    const int statusWidth =
        fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestGridStatus)) + padding;
    dbgCashReg_->setColumnWidth(RegisterGridModel::kStare, statusWidth);
    // Room for the vertical scroll bar that a long list brings.
    gridWidth += remarkWidth + statusWidth + dbgCashReg_->verticalHeader()->sizeHint().width() +
                 2 * dbgCashReg_->frameWidth() +
                 dbgCashReg_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    dbgCashReg_->setMinimumWidth(gridWidth);
    connect(dbgCashReg_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { gridModel_->SetCurrentRow(current.row()); });
    connect(dbgCashReg_, &QTableView::doubleClicked, this, [this] {
        if (btEdit_->isEnabled()) {
            btEditClick();
        }
    });

    btInsert_ = MakeButton(page, "btInsert", "&Adauga");
    btEdit_ = MakeButton(page, "btEdit", "&Modifica");
    btDelete_ = MakeButton(page, "btDelete", "&Sterge");
    connect(btInsert_, &QPushButton::clicked, this, &TfMain::btInsertClick);
    connect(btEdit_, &QPushButton::clicked, this, &TfMain::btEditClick);
    connect(btDelete_, &QPushButton::clicked, this, &TfMain::btDeleteClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btInsert_);
    buttons->addWidget(btEdit_);
    buttons->addWidget(btDelete_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(dbgCashReg_, 1);
    layout->addLayout(buttons);
    return page;
}

QWidget* TfMain::BuildScalePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsScale"));
    auto* diagram = new BarcodeDiagram(page);
    lBarcode_ = diagram->Barcode();

    ePrefix_ = MakeEdit(page, "ePrefix");
    ePrefix_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000")) +
                            fontMetrics().averageCharWidth() * 2);
    ePrefix_->installEventFilter(this);
    auto* prefixLabel = new QLabel(QStringLiteral("Prefix Cod de Bare"), page);
    prefixLabel->setBuddy(ePrefix_);
    auto* prefixRow = new QHBoxLayout;
    prefixRow->addStretch(1);
    prefixRow->addWidget(prefixLabel);
    prefixRow->addWidget(ePrefix_);
    prefixRow->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->addStretch(1);
    layout->addWidget(diagram);
    layout->addSpacing(fontMetrics().height());
    layout->addLayout(prefixRow);
    layout->addSpacing(fontMetrics().height() / 2);
    for (const char* note : {"Lungime cod PLU - 5 caractere",
                             "Precizia pt greutate este de 3 zecimale dupa virgula - 0.000 Kg"}) {
        auto* label = new QLabel(QString::fromLatin1(note), page);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    return page;
}

QWidget* TfMain::BuildBackOfficePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsBackOffice"));
    auto* layout = new QGridLayout(page);
    struct Row {
        const char* label;
        const char* edit;
        const char* browse;
        QLineEdit** editField;
        QPushButton** browseField;
    };
    const Row rows[] = {
        {"Fisier Articole (EAN8 / EAN13 / PLU)", "ePLUFile", "btBrowsePLUFile", &ePLUFile_,
         &btBrowsePLUFile_},
        {"Fisier Inchideri Bon si Moduri de Plata", "eBonFile", "btBrowseBonFile", &eBonFile_,
         &btBrowseBonFile_},
        {"Fisier Tranzactii Case", "eTranFile", "btBrowseTranFile", &eTranFile_,
         &btBrowseTranFile_},
    };
    int line = 0;
    for (const Row& row : rows) {
        QLineEdit* edit = MakeEdit(page, row.edit);
        edit->installEventFilter(this);
        QPushButton* browse = MakeButton(page, row.browse, "...");
        browse->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                              fontMetrics().averageCharWidth() * 4);
        auto* label = new QLabel(QString::fromLatin1(row.label), page);
        label->setBuddy(edit);
        layout->addWidget(label, line, 0, 1, 2);
        layout->addWidget(edit, line + 1, 0);
        layout->addWidget(browse, line + 1, 1);
        layout->setRowMinimumHeight(line + 2, fontMetrics().height() / 2);
        *row.editField = edit;
        *row.browseField = browse;
        connect(browse, &QPushButton::clicked, this, [this, edit] { Browse(edit); });
        line += 3;
    }
    layout->setRowStretch(line, 1);
    return page;
}

QWidget* TfMain::BuildOtherPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsOther"));
    auto* group = new QGroupBox(QStringLiteral(" Tranzactii Carte de Credit "), page);
    eCardFrom_ = MakeEdit(group, "eCardFrom");
    eCardTo_ = MakeEdit(group, "eCardTo");
    for (QLineEdit* edit : {eCardFrom_, eCardTo_}) {
        edit->installEventFilter(this);
        edit->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("100000000.00")) +
                              fontMetrics().averageCharWidth() * 2);
    }
    auto* from = new QLabel(QStringLiteral("Suma Minima"), group);
    from->setBuddy(eCardFrom_);
    auto* to = new QLabel(QStringLiteral("Suma Maxima"), group);
    to->setBuddy(eCardTo_);
    auto* groupLayout = new QGridLayout(group);
    groupLayout->addWidget(from, 0, 0);
    groupLayout->addWidget(eCardFrom_, 0, 1);
    groupLayout->setColumnMinimumWidth(2, fontMetrics().averageCharWidth() * 4);
    groupLayout->addWidget(to, 0, 3);
    groupLayout->addWidget(eCardTo_, 0, 4);
    groupLayout->setColumnStretch(5, 1);

    auto check = [this, page](const char* name, const char* caption) {
        auto* box = new QCheckBox(QString::fromLatin1(caption), page);
        box->setObjectName(QString::fromLatin1(name));
        connect(box, &QCheckBox::clicked, this, &TfMain::eParamEditExit);
        return box;
    };
    chkRecDiscount_ = check("chkRecDiscount", "Inregistrare discount in fisierul de tranzactii");
    chkRecDueMultipay_ =
        check("chkRecDueMultipay", "Inregistrare suma in cazul platii cu mai multe mijloace");
    chkRecSepFiles_ = check("chkRecSepFiles",
                            "Inregistrare de fisiere de vanzari separate pentru fiecare casa de "
                            "marcat conectata");
    chkRecDecInFile_ =
        check("chkRecDecInFile", "Inregistrare sume cu zecimale in fisierele aplicatiei");

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addSpacing(fontMetrics().height() / 2);
    for (QCheckBox* box :
         {chkRecDiscount_, chkRecDueMultipay_, chkRecSepFiles_, chkRecDecInFile_}) {
        layout->addWidget(box);
    }
    layout->addStretch(1);
    return page;
}

void TfMain::FixSize() {
    // The layout was drawn for 8-point type; keep its proportions at the font in use and grow
    // it wherever a caption needs more, so that no caption is cut and no tab scrolls.
    const double scale = fontMetrics().height() / double(kDesignedLineHeight);
    QSize size(static_cast<int>(kDesignedWidth * scale), static_cast<int>(kDesignedHeight * scale));
    size = size.expandedTo(minimumSizeHint());
    const int tabsWidth =
        pcMain_->tabBar()->sizeHint().width() + fontMetrics().averageCharWidth() * 4;
    size.setWidth(std::max(size.width(), tabsWidth));
    setFixedSize(size);
}

void TfMain::PrepareStartup() {
    hide();
    tray_->setIcon(ConnectorIcon(kImageDisconnected));
    ShowTrayWhenAvailable();
    fileDialogDir_ = programDir_;
}

void TfMain::ShowTrayWhenAvailable() {
    // At login the desktop's notification area often appears after the programs started with
    // it: the icon goes there as soon as it does.
    if (session_ && Control().Ended()) {
        trayWatch_->stop();
        return;
    }
    if (trayAvailable_()) {
        trayWatch_->stop();
        tray_->show();
    } else if (!trayWatch_->isActive()) {
        trayWatch_->start();
    }
}

TConnectionControl::StartupResult TfMain::Startup() {
    const auto result = session_->Startup();
    if (result == TConnectionControl::StartupResult::Running) {
        RefreshStatus();
        tmStatus_->start();
    }
    if (ShowWindowAtStartup(result, tray_->isVisible())) {
        aOptionsExecute();
    }
    return result;
}

void TfMain::ShowSettings(const AppSettingsRecord& settings) {
    const SettingsFields fields = ShownSettings(settings);
    lBarcode_->setText(Shown(BarcodeSample(settings)));
    lBarcode_->parentWidget()->update();
    ePrefix_->setText(Shown(fields.prefix));
    ePLUFile_->setText(Shown(fields.articleFile));
    eBonFile_->setText(Shown(fields.receiptFile));
    eTranFile_->setText(Shown(fields.transactionFile));
    eCardFrom_->setText(Shown(fields.cardFrom));
    eCardTo_->setText(Shown(fields.cardTo));
    chkRecDiscount_->setChecked(fields.recDiscount);
    chkRecDueMultipay_->setChecked(fields.recAmount);
    chkRecSepFiles_->setChecked(fields.recSepFiles);
    chkRecDecInFile_->setChecked(fields.recDecimals);
}

void TfMain::TakeSettings(AppSettingsRecord& settings) {
    TakeSettingsFields(SettingsFields{.prefix = Typed(ePrefix_->text()),
                                      .articleFile = Typed(ePLUFile_->text()),
                                      .receiptFile = Typed(eBonFile_->text()),
                                      .transactionFile = Typed(eTranFile_->text()),
                                      .cardFrom = Typed(eCardFrom_->text()),
                                      .cardTo = Typed(eCardTo_->text()),
                                      .recDiscount = chkRecDiscount_->isChecked(),
                                      .recAmount = chkRecDueMultipay_->isChecked(),
                                      .recSepFiles = chkRecSepFiles_->isChecked(),
                                      .recDecimals = chkRecDecInFile_->isChecked()},
                       settings);
}

void TfMain::ShowRegisterList() {
    gridModel_->Reload(session_->GridRows());
    gridModel_->SetStatus(session_->CurrentStatus());
    if (gridModel_->rowCount() > 0) {
        dbgCashReg_->selectRow(0);
        dbgCashReg_->setCurrentIndex(gridModel_->index(0, 0));
    }
}

void TfMain::ShowConnectState(bool connected) {
    const ConnectLook look = ConnectLookOf(connected);
    aConnect_->setEnabled(look.connectEnabled);
    aDisconnect_->setEnabled(look.disconnectEnabled);
    for (QWidget* control : std::initializer_list<QWidget*>{
             btInsert_, btEdit_, btDelete_, dbgCashReg_, ePrefix_, ePLUFile_, eBonFile_, eTranFile_,
             btBrowsePLUFile_, btBrowseBonFile_, btBrowseTranFile_, eCardFrom_, eCardTo_,
             chkRecDiscount_, chkRecDueMultipay_, chkRecSepFiles_, chkRecDecInFile_}) {
        control->setEnabled(look.settingsEnabled);
    }
    tray_->setIcon(ConnectorIcon(look.trayShowsConnected ? kImageConnected : kImageDisconnected));
    btConnect_->setText(QString::fromLatin1(look.buttonCaption));
    btConnect_->setIcon(
        ConnectorIcon(look.buttonShowsConnected ? kImageConnected : kImageDisconnected));
    if (!Control().Loading()) {
        RefreshStatus();  // a connect or disconnect shows at once, not at the next look
        if (isVisible()) {
            RefreshGrid();
        }
    }
}

void TfMain::aOptionsExecute() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    if (!property("placed").toBool()) {
        setProperty("placed", true);
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    raise();
    activateWindow();
}

void TfMain::aExitExecute() {
    if (Control().CloseQuery(true)) {
        EndProgram();
    }
}

void TfMain::KeepStatusFile() {
    session_->KeepStatusFile();
    RefreshStatus();
}

void TfMain::KeepStatusFile(std::string path, StatusFileHeader header) {
    session_->KeepStatusFile(std::move(path), std::move(header));
    RefreshStatus();
}

void TfMain::RefreshStatus() {
    const QString hint = Shown(session_->Look());
    if (tray_->toolTip() != hint) {
        tray_->setToolTip(hint);
    }
}

void TfMain::RefreshGrid() {
    gridModel_->SetStatus(session_->CurrentStatus());
}

void TfMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RefreshGrid();
    tmGridStatus_->start();
}

void TfMain::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    tmGridStatus_->stop();
}

void TfMain::EndProgram() {
    tmStatus_->stop();
    tmGridStatus_->stop();
    trayWatch_->stop();
    tray_->hide();
    hide();
    QCoreApplication::quit();
}

void TfMain::closeEvent(QCloseEvent* event) {
    if (session_->WindowClosing()) {
        event->accept();
        EndProgram();
    } else {
        event->ignore();
    }
}

void TfMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised, the window goes to the tray, where the icon brings it back; while the icon is
    // not shown (no notification area yet) it stays on the task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        HideWhenMinimised(tray_->isVisible())) {
        QTimer::singleShot(0, this, &QWidget::hide);
    }
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Leaving the control, not the window.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            eParamEditExit();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfMain::eParamEditExit() {
    Control().SettingsChanged();
}

void TfMain::Browse(QLineEdit* edit) {
    const auto chosen = dialogs_.ChooseFile(Local(fileDialogDir_));
    if (!chosen) {
        return;
    }
    const SettingsFile file = edit == ePLUFile_   ? SettingsFile::Articles
                              : edit == eBonFile_ ? SettingsFile::Receipts
                                                  : SettingsFile::Transactions;
    TakeChosenFile(Control(), file, *chosen,
                   [edit](const std::string& shown) { edit->setText(Shown(shown)); });
}

void TfMain::btHelpClick() {
    if (const auto manual = FindManual(Local(helpDir_))) {
        openUrl_(QUrl::fromLocalFile(QString::fromLocal8Bit(*manual)));
    }
}

int TfMain::CurrentGridRow() const {
    return gridModel_->CurrentRow();
}

std::optional<std::size_t> TfMain::SelectedRow() const {
    const int row = CurrentGridRow();
    return row >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(row)) : std::nullopt;
}

void TfMain::OpenRegisterDialog(bool editMode) {
    session_->RegisterDialog(editMode, SelectedRow(), [this](RegisterDialogModel& model) {
        TfCashReg dialog(model, this);
        dialog.exec();
    });
}

void TfMain::btInsertClick() {
    OpenRegisterDialog(false);
}

void TfMain::btEditClick() {
    OpenRegisterDialog(true);
}

void TfMain::btDeleteClick() {
    session_->DeleteRegister(SelectedRow());
}

}  // namespace tallyport
