#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "control/RegisterDialogModel.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tallyport {

// The register dialog's widgets over its model (not owned), which decides what they show, asks,
// checks and saves into the register list. Modal, user-interface thread.
class TfCashReg final : public QDialog {
    Q_OBJECT
public:
    explicit TfCashReg(RegisterDialogModel& model, QWidget* parent = nullptr);

    // Fills the controls for the mode; done once, when the dialog is first shown.
    void FormShow();

    // The port list: "COM1" to "COM9", then `ports` (by default the serial ports this computer
    // has, as the model found them). Called before the dialog is shown.
    void SetListedPorts(const std::vector<std::string>& ports);

    // "&Salveaza": forwards what the controls show to the model's save, and closes the dialog
    // when the save says so (RegisterDialogModel::Save).
    void btSaveClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void FillPorts();
    RegisterFields ShownFields() const;

    RegisterDialogModel& model_;
    bool shown_ = false;

    QLineEdit* eLogicNo_;
    QComboBox* cbModel_;
    QComboBox* cbPort_;
    QComboBox* cbSpeed_;
    QComboBox* cbDataBits_;
    QComboBox* cbStopBits_;
    QComboBox* cbParity_;
    QLineEdit* eFiscal_;
    QLineEdit* eCashPoint_;
    QPushButton* btSave_;
    QPushButton* btAbort_;
};

}  // namespace tallyport
