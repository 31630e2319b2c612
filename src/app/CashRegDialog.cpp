#include "app/CashRegDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QValidator>
#include <exception>
#include <iterator>
#include <tuple>

#include "app/ByteText.h"
#include "control/ConnectionControl.h"
#include "control/UserDialogs.h"
#include "serial/PortList.h"
#include "store/CsvTable.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"

namespace tallyport {
namespace {

constexpr char kConfirmAdd[] = "Confirmati adaugarea casei de marcat?";
constexpr char kConfirmEdit[] = "Confirmati modificarea datelor pentru casa de marcat?";
constexpr char kDuplicate[] =
    "Erroare: Verificati numarul logic si portul serial. Nu pot fi inregistrate doua case cu "
    "aceleasi setari!";

// Turns every letter typed or pasted into the edit into upper case.
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items, bool typed) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(items);
    box->setEditable(typed);
    if (typed) {
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    return box;
}

// Selects the item whose text equals `text`; none matching shows no selection and no text.
void SelectText(QComboBox* box, const std::string& text) {
    const int index = box->findText(ShownText(text), Qt::MatchExactly);
    box->setCurrentIndex(index);
    if (index < 0 && box->isEditable()) {
        box->setEditText(QString());
    }
}

std::string IntegerText(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

}  // namespace

TfCashReg::TfCashReg(Mode mode, CsvTable& registerList, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), mode_(mode), list_(registerList), dialogs_(dialogs) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setModal(true);
    BuildControls();
}

void TfCashReg::BuildControls() {
    setObjectName(QStringLiteral("fCashReg"));
    eLogicNo_ = MakeEdit(this, "eLogicNo");
    cbModel_ = MakeList(this, "cbModel",
                        {"Datecs MP55", "Datecs MP500", "Datecs MP5000", "Datecs FP550T"}, false);
    cbPort_ = MakeList(this, "cbPort", {}, true);
    // Sized for the usual names; a longer one scrolls in the box and shows whole in the list.
    cbPort_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbPort_->setMinimumContentsLength(12);
    SetListedPorts(ListSerialPorts());
    cbSpeed_ = MakeList(this, "cbSpeed",
                        {"1200", "2400", "4800", "9600", "14400", "19200", "38400"}, true);
    cbDataBits_ = MakeList(this, "cbDataBits", {"5", "6", "7", "8"}, false);
    cbStopBits_ = MakeList(this, "cbStopBits", {"1", "2"}, false);
    cbParity_ = MakeList(this, "cbParity", {"None", "Odd", "Even", "Mark", "Space"}, false);
    eFiscal_ = MakeEdit(this, "eFiscal");
    eCashPoint_ = MakeEdit(this, "eCashPoint");
    eCashPoint_->setValidator(new UpperCaseValidator(eCashPoint_));
    btSave_ = new QPushButton(QStringLiteral("&Salveaza"), this);
    btSave_->setObjectName(QStringLiteral("btSave"));
    btSave_->setDefault(true);
    btAbort_ = new QPushButton(QStringLiteral("&Renunta"), this);
    btAbort_->setObjectName(QStringLiteral("btAbort"));
    // Enter presses "&Salveaza", except on a focused "&Renunta", which it presses instead (a
    // user who has moved to "&Renunta" means to cancel, not to write the list).
    btAbort_->setAutoDefault(true);

    // Values of a new register.
    cbModel_->setCurrentIndex(0);
    cbPort_->setCurrentIndex(0);
    cbSpeed_->setCurrentIndex(cbSpeed_->findText(QStringLiteral("4800")));
    cbDataBits_->setCurrentIndex(cbDataBits_->findText(QStringLiteral("8")));
    cbStopBits_->setCurrentIndex(0);
    cbParity_->setCurrentIndex(0);

    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setBuddy(buddy);
        return l;
    };
    auto* columns = new QGridLayout;
    const int gap = fontMetrics().averageCharWidth() * 3;
    columns->setHorizontalSpacing(fontMetrics().averageCharWidth());
    // A field with its label to the left of it.
    auto addField = [&](const char* text, QWidget* field, int row, int column) {
        columns->addWidget(label(text, field), row, column);
        columns->addWidget(field, row, column + 1);
    };
    addField("Numar logic casa:", eLogicNo_, 0, 0);
    addField("Model casa", cbModel_, 1, 0);
    addField("Port comunicatie", cbPort_, 2, 0);
    addField("Rata de transfer", cbSpeed_, 3, 0);
    columns->setColumnMinimumWidth(2, gap);
    addField("Biti date", cbDataBits_, 0, 3);
    addField("Biti stop", cbStopBits_, 1, 3);
    addField("Paritate", cbParity_, 2, 3);
    addField("Serie Fiscala", eFiscal_, 3, 3);
    columns->setColumnStretch(1, 3);
    columns->setColumnStretch(4, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btSave_);
    buttons->addWidget(btAbort_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addWidget(label("Denumire Punct Incasare", eCashPoint_));
    layout->addWidget(eCashPoint_);
    layout->addStretch(1);
    layout->addLayout(buttons);

    // Tab order as the fields are filled in.
    QWidget* const tabOrder[] = {eLogicNo_,   cbModel_,    cbPort_,   cbSpeed_,
                                 cbDataBits_, cbStopBits_, cbParity_, eFiscal_,
                                 eCashPoint_, btSave_,     btAbort_};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }

    connect(btSave_, &QPushButton::clicked, this, &TfCashReg::btSaveClick);
    connect(btAbort_, &QPushButton::clicked, this, &TfCashReg::reject);

    // The client area keeps the proportions of 431 x 248 at 8-point type, grown to the font in
    // use so that nothing is cut.
    const double scale = fontMetrics().height() / 13.0;
    const QSize designed(static_cast<int>(431 * scale), static_cast<int>(248 * scale));
    setFixedSize(designed.expandedTo(sizeHint()));
}

void TfCashReg::SetListedPorts(const std::vector<std::string>& ports) {
    QStringList items;
    for (int i = 1; i <= 9; ++i) {
        items << QStringLiteral("COM%1").arg(i);
    }
    for (const std::string& port : ports) {
        items << QString::fromLocal8Bit(port);
    }
    cbPort_->clear();
    cbPort_->addItems(items);
    cbPort_->setCurrentIndex(0);
    // A long stable name shows whole in the open list, however narrow the box.
    cbPort_->view()->setMinimumWidth(cbPort_->view()->sizeHintForColumn(0) +
                                     fontMetrics().averageCharWidth() * 2);
}

void TfCashReg::showEvent(QShowEvent* event) {
    if (!shown_) {
        shown_ = true;
        FormShow();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QDialog::showEvent(event);
}

void TfCashReg::FormShow() {
    if (mode_ == Mode::AddMode) {
        setWindowTitle(QStringLiteral("Adaugare casa de marcat..."));
        return;
    }
    setWindowTitle(QStringLiteral("Editare casa de marcat..."));
    // Without a row there is nothing to show: every box stays empty.
    const RegisterEntry row =
        list_.IsOpen() && list_.RowCount() > 0 ? ReadRegisterEntry(list_) : RegisterEntry{};
    shownRow_ = row;
    eLogicNo_->setText(QString::fromStdString(IntegerText(row.LogicalNb)));
    SelectText(cbModel_, row.ModelType);
    SelectText(cbSpeed_, IntegerText(row.TranRate));
    SelectText(cbPort_, row.CommPort);
    SelectText(cbDataBits_, IntegerText(row.DataBits));
    SelectText(cbStopBits_, IntegerText(row.StopBits));
    SelectText(cbParity_, row.Parity);
    eFiscal_->setText(ShownText(row.Fiscal));
    eCashPoint_->setText(ShownText(row.Observatii));
}

bool TfCashReg::CopyIntoRow() {
    // Each control with the bytes it was filled from: a text left as shown keeps them.
    const RegisterEntry& was = shownRow_;
    const std::tuple<RegisterColumn, QString, std::string> values[] = {
        {kRegLogicalNb, eLogicNo_->text(), IntegerText(was.LogicalNb)},
        {kRegModelType, cbModel_->currentText(), was.ModelType},
        {kRegTranRate, cbSpeed_->currentText(), IntegerText(was.TranRate)},
        {kRegCommPort, cbPort_->currentText(), was.CommPort},
        {kRegDataBits, cbDataBits_->currentText(), IntegerText(was.DataBits)},
        {kRegStopBits, cbStopBits_->currentText(), IntegerText(was.StopBits)},
        {kRegParity, cbParity_->currentText(), was.Parity},
        {kRegFiscal, eFiscal_->text(), was.Fiscal},
        {kRegObservatii, eCashPoint_->text(), was.Observatii},
    };
    try {
        for (const auto& [column, text, original] : values) {
            list_.SetFromText(column, StoredText(text, original));
        }
    } catch (const std::exception& e) {
        // Nothing half-filled may reach the list: the pending row goes, the dialog stays open
        // for the user to correct the value.
        list_.Cancel();
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return false;
    }
    return true;
}

void TfCashReg::btSaveClick() {
    if (!dialogs_.Confirm(mode_ == Mode::AddMode ? kConfirmAdd : kConfirmEdit)) {
        return;
    }
    try {
        // Changing a register in an empty list adds it.
        if (mode_ == Mode::AddMode || list_.RowCount() == 0) {
            list_.Append();
        } else {
            list_.Edit();
        }
    } catch (const std::exception& e) {
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return;
    }
    if (!CopyIntoRow()) {
        return;
    }
    try {
        list_.Post();
    } catch (const StoreError&) {
        list_.Cancel();
        dialogs_.ShowMessage(MessageKind::Information, kDuplicate);
    }
    accept();
}

}  // namespace tallyport
