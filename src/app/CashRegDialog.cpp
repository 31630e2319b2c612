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
#include <iterator>

namespace tallyport {
namespace {

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

QString Shown(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Typed(const QString& text) {
    return text.toUtf8().toStdString();
}

QStringList Items(const std::vector<std::string>& texts) {
    QStringList items;
    for (const std::string& text : texts) {
        items << Shown(text);
    }
    return items;
}

QComboBox* MakeList(QWidget* parent, const char* name, const std::vector<std::string>& items,
                    bool typed) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(Items(items));
    box->setEditable(typed);
    if (typed) {
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    return box;
}

// Selects the item whose text equals `text`; none matching shows no selection and no text.
void SelectText(QComboBox* box, const std::string& text) {
    const int index = box->findText(Shown(text), Qt::MatchExactly);
    box->setCurrentIndex(index);
    if (index < 0 && box->isEditable()) {
        box->setEditText(QString());
    }
}

}  // namespace

TfCashReg::TfCashReg(RegisterDialogModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setModal(true);
    BuildControls();
}

void TfCashReg::BuildControls() {
    setObjectName(QStringLiteral("fCashReg"));
    eLogicNo_ = MakeEdit(this, "eLogicNo");
    cbModel_ = MakeList(this, "cbModel", RegisterModels(), false);
    cbPort_ = MakeList(this, "cbPort", {}, true);
    // Sized for the usual names; a longer one scrolls in the box and shows whole in the list.
    cbPort_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbPort_->setMinimumContentsLength(12);
    FillPorts();
    cbSpeed_ = MakeList(this, "cbSpeed", TransferRates(), true);
    cbDataBits_ = MakeList(this, "cbDataBits", DataBitsChoices(), false);
    cbStopBits_ = MakeList(this, "cbStopBits", StopBitsChoices(), false);
    cbParity_ = MakeList(this, "cbParity", ParityChoices(), false);
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
    const RegisterFields fresh = NewRegisterFields();
    SelectText(cbModel_, fresh.model);
    SelectText(cbPort_, fresh.port);
    SelectText(cbSpeed_, fresh.speed);
    SelectText(cbDataBits_, fresh.dataBits);
    SelectText(cbStopBits_, fresh.stopBits);
    SelectText(cbParity_, fresh.parity);

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
    model_.SetListedPorts(ports);
    FillPorts();
}

void TfCashReg::FillPorts() {
    cbPort_->clear();
    cbPort_->addItems(Items(model_.Ports()));
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
    setWindowTitle(QString::fromLatin1(model_.Caption()));
    if (model_.Mode() == RegisterDialogMode::Add) {
        return;  // the controls hold the values of a new register since they were made
    }
    const RegisterFields fields = model_.Fields();
    eLogicNo_->setText(Shown(fields.logicalNb));
    SelectText(cbModel_, fields.model);
    SelectText(cbSpeed_, fields.speed);
    SelectText(cbPort_, fields.port);
    SelectText(cbDataBits_, fields.dataBits);
    SelectText(cbStopBits_, fields.stopBits);
    SelectText(cbParity_, fields.parity);
    eFiscal_->setText(Shown(fields.fiscal));
    eCashPoint_->setText(Shown(fields.cashPoint));
}

RegisterFields TfCashReg::ShownFields() const {
    return RegisterFields{
        .logicalNb = Typed(eLogicNo_->text()),
        .model = Typed(cbModel_->currentText()),
        .port = Typed(cbPort_->currentText()),
        .speed = Typed(cbSpeed_->currentText()),
        .dataBits = Typed(cbDataBits_->currentText()),
        .stopBits = Typed(cbStopBits_->currentText()),
        .parity = Typed(cbParity_->currentText()),
        .fiscal = Typed(eFiscal_->text()),
        .cashPoint = Typed(eCashPoint_->text()),
    };
}

void TfCashReg::btSaveClick() {
    if (RegisterDialogModel::Closes(model_.Save(ShownFields()))) {
        accept();
    }
}

}  // namespace tallyport
