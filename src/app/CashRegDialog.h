#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "store/RegisterList.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tallyport {

class CsvTable;
class UserDialogs;

// Adds a register to the register list or changes the list's current row. Works directly on
// the list (not owned); asks and reports through `dialogs`. Modal, user-interface thread.
class TfCashReg final : public QDialog {
    Q_OBJECT
public:
    enum class Mode { AddMode, EditMode };

    TfCashReg(Mode mode, CsvTable& registerList, UserDialogs& dialogs, QWidget* parent = nullptr);

    // Fills the controls for the mode; done once, when the dialog is first shown.
    void FormShow();

    // The port list: "COM1" to "COM9", then `ports` (by default the serial ports this computer
    // has, ListSerialPorts). Called before the dialog is shown.
    void SetListedPorts(const std::vector<std::string>& ports);

    // "&Salveaza": asks, then copies the controls into the list and posts the row. A refused
    // post (duplicate logical number or port) closes the dialog with the list as it was; a
    // value that cannot be stored keeps it open with the list as it was.
    void btSaveClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    bool CopyIntoRow();

    Mode mode_;
    CsvTable& list_;
    UserDialogs& dialogs_;
    bool shown_ = false;
    RegisterEntry shownRow_;  // the row the controls were filled from (empty for a new one)

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
