#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "app/CashRegDialog.h"
#include "serial/PortList.h"
#include "store/RegisterList.h"
#include "support/ShellTestSupport.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::FakeDialogs;
using Row = std::vector<std::string>;

constexpr char kDuplicate[] =
    "Erroare: Verificati numarul logic si portul serial. Nu pot fi inregistrate doua case cu "
    "aceleasi setari!";

void AddRow(CsvTable& list, const Row& values) {
    list.Append();
    for (std::size_t c = 0; c < values.size(); ++c) {
        list.SetFromText(c, values[c]);
    }
    list.Post();
}

std::vector<Row> Rows(CsvTable& list) {
    std::vector<Row> rows;
    for (list.First(); !list.Eof(); list.Next()) {
        Row row;
        for (std::size_t c = 0; c < list.Columns().size(); ++c) {
            row.push_back(list.AsText(c));
        }
        rows.push_back(row);
    }
    return rows;
}

class CashRegDialogTest : public ::testing::Test {
protected:
    CashRegDialogTest() : list(MakeRegisterList()) {
        AddRow(*list, {"1", "Datecs MP55", "9600", "8", "None", "1", "COM1", "DA01", "CASA 1"});
        AddRow(*list, {"2", "Datecs MP500", "19200", "7", "Even", "2", "COM2", "DA02", "CASA 2"});
    }

    template <class W>
    W* Find(TfCashReg& dialog, const char* name) {
        W* widget = dialog.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    void Fill(TfCashReg& dialog, const char* logicNo, const char* port, const char* fiscal,
              const char* cashPoint) {
        Find<QLineEdit>(dialog, "eLogicNo")->setText(QString::fromLatin1(logicNo));
        Find<QComboBox>(dialog, "cbPort")->setEditText(QString::fromLatin1(port));
        Find<QLineEdit>(dialog, "eFiscal")->setText(QString::fromLatin1(fiscal));
        Find<QLineEdit>(dialog, "eCashPoint")->setText(QString::fromLatin1(cashPoint));
    }

    std::unique_ptr<CsvTable> list;
    FakeDialogs dialogs;
};

TEST_F(CashRegDialogTest, AddModeShowsTheValuesOfANewRegister) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Adaugare casa de marcat...");
    EXPECT_EQ(Find<QLineEdit>(dialog, "eLogicNo")->text(), "");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbModel")->currentText(), "Datecs MP55");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbPort")->currentText(), "COM1");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbSpeed")->currentText(), "4800");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbDataBits")->currentText(), "8");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbStopBits")->currentText(), "1");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbParity")->currentText(), "None");
    EXPECT_EQ(Find<QLineEdit>(dialog, "eFiscal")->text(), "");
    EXPECT_EQ(Find<QLineEdit>(dialog, "eCashPoint")->text(), "");

    // The lists and which of them take typed text.
    // COM1 to COM9, then the serial ports this computer has.
    QComboBox* port = Find<QComboBox>(dialog, "cbPort");
    const std::vector<std::string> listed = ListSerialPorts();
    ASSERT_EQ(port->count(), 9 + static_cast<int>(listed.size()));
    EXPECT_EQ(port->itemText(0), "COM1");
    EXPECT_EQ(port->itemText(8), "COM9");
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(port->itemText(9 + static_cast<int>(i)).toStdString(), listed[i]);
    }
    EXPECT_TRUE(Find<QComboBox>(dialog, "cbPort")->isEditable());
    EXPECT_TRUE(Find<QComboBox>(dialog, "cbSpeed")->isEditable());
    EXPECT_EQ(Find<QComboBox>(dialog, "cbSpeed")->itemText(6), "38400");
    EXPECT_FALSE(Find<QComboBox>(dialog, "cbModel")->isEditable());
    EXPECT_EQ(Find<QComboBox>(dialog, "cbModel")->itemText(3), "Datecs FP550T");
    EXPECT_FALSE(Find<QComboBox>(dialog, "cbParity")->isEditable());
    EXPECT_EQ(Find<QComboBox>(dialog, "cbParity")->itemText(4), "Space");

    // Not resizable, no title-bar buttons, on top; Enter saves.
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(Find<QPushButton>(dialog, "btSave")->isDefault());
    EXPECT_EQ(Find<QPushButton>(dialog, "btSave")->text(), "&Salveaza");
    EXPECT_EQ(Find<QPushButton>(dialog, "btAbort")->text(), "&Renunta");
}

TEST_F(CashRegDialogTest, TabOrderFollowsTheFields) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    const char* order[] = {"eLogicNo",   "cbModel",    "cbPort",   "cbSpeed",
                           "cbDataBits", "cbStopBits", "cbParity", "eFiscal",
                           "eCashPoint", "btSave",     "btAbort"};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* from = dialog.findChild<QWidget*>(QString::fromLatin1(order[i]));
        QWidget* next = from->nextInFocusChain();
        // An editable box's own line edit sits between the box and the next field.
        while (next && next->parentWidget() == from) {
            next = next->nextInFocusChain();
        }
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->objectName(), QString::fromLatin1(order[i + 1])) << "after " << order[i];
    }
}

TEST_F(CashRegDialogTest, AddStoresTheControlsWithTheCashPointInUpperCase) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Find<QLineEdit>(dialog, "eLogicNo")->setText("5");
    Find<QComboBox>(dialog, "cbModel")->setCurrentIndex(3);
    Find<QComboBox>(dialog, "cbPort")->setEditText("/dev/ttyUSB0");
    Find<QComboBox>(dialog, "cbSpeed")->setCurrentIndex(3);
    Find<QComboBox>(dialog, "cbParity")->setCurrentIndex(2);
    Find<QLineEdit>(dialog, "eFiscal")->setText("DA00000005");
    QLineEdit* cashPoint = Find<QLineEdit>(dialog, "eCashPoint");
    QTest::keyClicks(cashPoint, "casa cinci ab");
    EXPECT_EQ(cashPoint->text(), "CASA CINCI AB");

    QTest::mouseClick(Find<QPushButton>(dialog, "btSave"), Qt::LeftButton);
    ASSERT_EQ(dialogs.questions, std::vector<std::string>{"Confirmati adaugarea casei de marcat?"});
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const auto rows = Rows(*list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2], (Row{"5", "Datecs FP550T", "9600", "8", "Even", "1", "/dev/ttyUSB0",
                            "DA00000005", "CASA CINCI AB"}));
}

TEST_F(CashRegDialogTest, NoToTheQuestionStoresNothingAndStaysOpen) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Fill(dialog, "7", "COM7", "DA07", "X");
    dialogs.answers = {false};
    dialog.btSaveClick();
    EXPECT_EQ(dialogs.questions.size(), 1u);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Rows(*list).size(), 2u);
    EXPECT_FALSE(list->Editing());
}

TEST_F(CashRegDialogTest, DuplicateLogicalNumberIsRefusedAndTheListKeepsItsRows) {
    const auto before = Rows(*list);
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Fill(dialog, "2", "COM5", "DA05", "NOUA");
    dialog.btSaveClick();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(dialogs.messages[0].text, kDuplicate);
    EXPECT_FALSE(dialog.isVisible());  // the dialog closes after a refused post
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(Rows(*list), before);
}

TEST_F(CashRegDialogTest, EditShowsTheCurrentRowAndRefusesAnotherRegistersPort) {
    list->MoveTo(0);
    const auto before = Rows(*list);
    list->MoveTo(0);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Editare casa de marcat...");
    EXPECT_EQ(Find<QLineEdit>(dialog, "eLogicNo")->text(), "1");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbSpeed")->currentText(), "9600");
    EXPECT_EQ(Find<QComboBox>(dialog, "cbPort")->currentText(), "COM1");
    EXPECT_EQ(Find<QLineEdit>(dialog, "eCashPoint")->text(), "CASA 1");

    Find<QComboBox>(dialog, "cbPort")->setCurrentIndex(1);  // COM2 belongs to register 2
    dialog.btSaveClick();
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"Confirmati modificarea datelor pentru casa de marcat?"});
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{kDuplicate});
    EXPECT_EQ(Rows(*list), before);
}

TEST_F(CashRegDialogTest, EditWithoutChangingNumberOrPortIsAccepted) {
    list->MoveTo(1);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Find<QLineEdit>(dialog, "eFiscal")->setText("DA99");
    dialog.btSaveClick();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Rows(*list)[1],
              (Row{"2", "Datecs MP500", "19200", "7", "Even", "2", "COM2", "DA99", "CASA 2"}));
}

TEST_F(CashRegDialogTest, AStoredPortOutsideTheListShowsEmptyAndIsSavedEmpty) {
    AddRow(*list, {"3", "Datecs MP55", "9600", "8", "None", "1", "COM12", "DA03", "CASA 3"});
    list->MoveTo(2);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    QComboBox* port = Find<QComboBox>(dialog, "cbPort");
    EXPECT_EQ(port->currentIndex(), -1);
    EXPECT_EQ(port->currentText(), "");
    dialog.btSaveClick();
    EXPECT_TRUE(dialogs.messages.empty());
    list->MoveTo(2);
    EXPECT_TRUE(list->IsNull(kRegCommPort));
    EXPECT_EQ(list->AsText(kRegFiscal), "DA03");
}

TEST_F(CashRegDialogTest, AValueThatCannotBeStoredKeepsTheDialogOpenAndTheListWhole) {
    const auto before = Rows(*list);
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Fill(dialog, "12a", "COM6", "DA06", "CASA 6");
    dialog.btSaveClick();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs.messages[0].text, "'12a' is not a valid integer value for field 'LogicalNb'");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(Rows(*list), before);

    // A comma cannot be carried by the list's file.
    Find<QLineEdit>(dialog, "eLogicNo")->setText("6");
    Find<QLineEdit>(dialog, "eFiscal")->setText("DA,06");
    dialog.btSaveClick();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_NE(dialogs.messages[1].text.find("virgula"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Rows(*list), before);

    // Corrected, the same dialog saves.
    Find<QLineEdit>(dialog, "eFiscal")->setText("DA06");
    dialog.btSaveClick();
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Rows(*list).size(), 3u);
}

TEST_F(CashRegDialogTest, APortNameIsStoredWholeOrRefusedNeverCut) {
    const auto before = Rows(*list);
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    // Longer than the system's longest path: refused with a message, the dialog stays open.
    const std::string tooLong = "/dev/serial/by-path/" + std::string(4076, 'x');
    ASSERT_EQ(tooLong.size(), 4096u);
    Fill(dialog, "6", tooLong.c_str(), "DA06", "CASA 6");
    dialog.btSaveClick();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs.messages[0].text,
              "Eroare: Campul CommPort poate avea cel mult 4095 caractere!");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(Rows(*list), before);

    // A long socket name fits and is stored whole.
    const std::string byPath =
        "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + std::string(260, '1') + ":1.0-port0";
    Find<QComboBox>(dialog, "cbPort")->setEditText(QString::fromStdString(byPath));
    dialog.btSaveClick();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(list->Locate(kRegLogicalNb, "6"));
    EXPECT_EQ(list->AsText(kRegCommPort), byPath);
}

TEST_F(CashRegDialogTest, AnEditThatCannotBeStoredLeavesTheRowAsItWas) {
    const auto before = Rows(*list);
    list->MoveTo(0);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    Find<QLineEdit>(dialog, "eFiscal")->setText("NEW");
    Find<QComboBox>(dialog, "cbSpeed")->setEditText("fast");
    dialog.btSaveClick();
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"'fast' is not a valid integer value for field 'TranRate'"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Rows(*list), before);
}

TEST_F(CashRegDialogTest, EscapeClosesWithoutAQuestionAndEnterSaves) {
    {
        RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Fill(dialog, "8", "COM8", "DA08", "X");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_EQ(Rows(*list).size(), 2u);
    }
    {
        RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Fill(dialog, "8", "COM8", "DA08", "X");
        QTest::keyClick(Find<QLineEdit>(dialog, "eFiscal"), Qt::Key_Return);
        EXPECT_EQ(dialogs.questions.size(), 1u);
        EXPECT_EQ(Rows(*list).size(), 3u);
    }
}

TEST_F(CashRegDialogTest, EditingAnEmptyListShowsEmptyBoxesAndAddsTheRow) {
    auto empty = MakeRegisterList();
    RegisterDialogModel model(RegisterDialogMode::Edit, *empty, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    for (const char* name :
         {"cbModel", "cbPort", "cbSpeed", "cbDataBits", "cbStopBits", "cbParity"}) {
        EXPECT_EQ(Find<QComboBox>(dialog, name)->currentText(), "") << name;
    }
    Find<QLineEdit>(dialog, "eLogicNo")->setText("4");
    Find<QComboBox>(dialog, "cbParity")->setCurrentIndex(0);
    dialog.btSaveClick();
    EXPECT_TRUE(dialogs.messages.empty());
    const auto rows = Rows(*empty);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (Row{"4", "", "", "", "None", "", "", "", ""}));
}

TEST_F(CashRegDialogTest, AStableNameOf80CharactersIsOfferedStoredAndShownAgain) {
    // A fake device tree with one USB adapter under its stable name.
    test::TempFolder root;
    const std::string name = "usb-FTDI_FT232R_USB_UART_A50285BI0123456789ABCDEFGH-if00-port0";
    const std::string byId = "/dev/serial/by-id/" + name;
    ASSERT_EQ(byId.size(), 80u);
    std::filesystem::create_directories(root.Path() / "dev/serial/by-id");
    test::WriteFile(root.File("dev/ttyUSB0"), "");
    std::filesystem::create_symlink("../../ttyUSB0", root.Path() / "dev/serial/by-id" / name);
    const std::vector<std::string> ports = ListSerialPorts(root.Path().string());
    ASSERT_EQ(ports, (std::vector<std::string>{"/dev/ttyUSB0", byId}));

    {
        RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
        TfCashReg dialog(model);
        dialog.SetListedPorts(ports);
        dialog.show();
        QComboBox* port = Find<QComboBox>(dialog, "cbPort");
        ASSERT_EQ(port->count(), 11);
        EXPECT_EQ(port->currentText(), "COM1");
        port->setCurrentIndex(10);
        Find<QLineEdit>(dialog, "eLogicNo")->setText("3");
        dialog.btSaveClick();
        EXPECT_TRUE(dialogs.messages.empty());
    }
    list->MoveTo(2);
    EXPECT_EQ(list->AsText(kRegCommPort), byId);

    // Through the file and back, then shown for change: the same item is chosen.
    test::TempFolder folder;
    SaveTableToFile(*list, folder.File("ECRs.dat"));
    auto reread = MakeRegisterList();
    LoadTableFromFile(*reread, folder.File("ECRs.dat"));
    reread->MoveTo(2);
    ASSERT_EQ(reread->AsText(kRegCommPort), byId);
    {
        RegisterDialogModel model(RegisterDialogMode::Edit, *reread, dialogs);
        TfCashReg dialog(model);
        dialog.SetListedPorts(ports);
        dialog.show();
        QComboBox* port = Find<QComboBox>(dialog, "cbPort");
        EXPECT_EQ(port->currentIndex(), 10);
        EXPECT_EQ(port->currentText().toStdString(), byId);
        // The box keeps its designed width; the open list shows the name whole.
        EXPECT_LT(port->width(),
                  port->fontMetrics().horizontalAdvance(QString::fromStdString(byId)));
        EXPECT_GE(port->view()->minimumWidth(),
                  port->fontMetrics().horizontalAdvance(QString::fromStdString(byId)));
        dialog.btSaveClick();
    }
    reread->MoveTo(2);
    EXPECT_EQ(reread->AsText(kRegCommPort), byId);
    SaveTableToFile(*reread, folder.File("ECRs2.dat"));
    EXPECT_EQ(test::ReadFile(folder.File("ECRs2.dat")), test::ReadFile(folder.File("ECRs.dat")));
}

TEST_F(CashRegDialogTest, EnterOnAFocusedRenuntaCancels) {
    const auto before = Rows(*list);
    {
        RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Fill(dialog, "8", "COM8", "DA08", "X");
        auto* abort = Find<QPushButton>(dialog, "btAbort");
        abort->setFocus(Qt::TabFocusReason);
        QTest::keyClick(abort, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_EQ(Rows(*list), before);
    }
    {
        // Back on a field after "&Renunta", Enter saves again.
        RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Fill(dialog, "8", "COM8", "DA08", "X");
        Find<QPushButton>(dialog, "btAbort")->setFocus(Qt::TabFocusReason);
        Find<QLineEdit>(dialog, "eFiscal")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Find<QLineEdit>(dialog, "eFiscal"), Qt::Key_Enter);
        EXPECT_EQ(dialogs.questions.size(), 1u);
        EXPECT_EQ(Rows(*list).size(), before.size() + 1);
    }
}

TEST_F(CashRegDialogTest, TextsOfACodePageShowAsItsLettersAndKeepTheirBytes) {
    auto shop = MakeRegisterList();
    // Code page 1250: 0xAA is S-cedilla, 0xE9 e-acute; the second row is UTF-8.
    AddRow(*shop, {"1", "Datecs MP55", "9600", "8", "None", "1", "COM1",
                   "DA\xE9"
                   "01",
                   "CASA \xAAOSEA"});
    AddRow(*shop, {"2", "Datecs MP55", "9600", "8", "None", "1", "COM2", "DA02", "CASA \xC4\x82"});
    const auto before = Rows(*shop);
    for (std::size_t row = 0; row < 2; ++row) {
        shop->MoveTo(row);
        RegisterDialogModel model(RegisterDialogMode::Edit, *shop, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        const QString cashPoint = Find<QLineEdit>(dialog, "eCashPoint")->text();
        EXPECT_EQ(cashPoint, row == 0 ? QString::fromUtf8("CASA \u015EOSEA")
                                      : QString::fromUtf8("CASA \u0102"));
        if (row == 0) {
            EXPECT_EQ(Find<QLineEdit>(dialog, "eFiscal")->text(), QString::fromUtf8("DA\u00E901"));
        }
        dialog.btSaveClick();  // nothing changed
        EXPECT_TRUE(dialogs.messages.empty());
    }
    EXPECT_EQ(Rows(*shop), before);

    // A changed text stays in the row's code page where it can, else it becomes UTF-8.
    shop->MoveTo(0);
    {
        RegisterDialogModel model(RegisterDialogMode::Edit, *shop, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Find<QLineEdit>(dialog, "eCashPoint")->setText(QString::fromUtf8("CASA \u0162ARA"));
        dialog.btSaveClick();
    }
    shop->MoveTo(0);
    EXPECT_EQ(shop->AsText(kRegObservatii),
              "CASA \xDE"
              "ARA");
    EXPECT_EQ(shop->AsText(kRegFiscal),
              "DA\xE9"
              "01");  // untouched beside it
    {
        RegisterDialogModel model(RegisterDialogMode::Edit, *shop, dialogs);
        TfCashReg dialog(model);
        dialog.show();
        Find<QLineEdit>(dialog, "eCashPoint")->setText(QString::fromUtf8("CASA \u03A9"));
        dialog.btSaveClick();
    }
    shop->MoveTo(0);
    EXPECT_EQ(shop->AsText(kRegObservatii), "CASA \xCE\xA9");
}

TEST_F(CashRegDialogTest, ALongNameIsCutWithoutSplittingACharacter) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs);
    TfCashReg dialog(model);
    dialog.show();
    QString name = QStringLiteral("A");
    for (int i = 0; i < 15; ++i) {
        name += QChar(0x0102);  // two bytes each in UTF-8: 31 bytes for a 30-byte column
    }
    Fill(dialog, "9", "COM9", "DA09", "");
    Find<QLineEdit>(dialog, "eCashPoint")->setText(name);
    dialog.btSaveClick();
    const auto rows = Rows(*list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2][kRegObservatii], name.left(15).toUtf8().toStdString());
    EXPECT_EQ(rows[2][kRegObservatii].size(), 29u);
}

}  // namespace
}  // namespace tallyport
