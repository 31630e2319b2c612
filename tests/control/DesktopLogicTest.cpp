// What the desktop shells share without widgets: the display rule for the user's bytes, the
// register dialog's model, the setting fields, the desktop session (grid rows, register dialog
// flow, delete, close box) and the program entry. The Qt suites drive the same calls through
// widgets; here they run without any, under the sanitizers too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/BuildInfo.h"
#include "base/Paths.h"
#include "control/ConnectionControl.h"
#include "control/DesktopProgram.h"
#include "control/DisplayText.h"
#include "control/RegisterDialogModel.h"
#include "control/SettingsFields.h"
#include "requests/RequestContext.h"
#include "store/AppSettings.h"
#include "store/RegisterList.h"
#include "support/RegionalSeparatorScope.h"
#include "support/ShellTestSupport.h"

namespace tallyport {
namespace {

using test::Exists;
using test::FakeDialogs;
using test::NoticeRecorder;
using test::ReadFile;
using test::TempFolder;
using test::UseSettingsIn;
using test::WriteFile;
using Result = TConnectionControl::StartupResult;
using Save = RegisterDialogModel::SaveResult;
using Row = std::vector<std::string>;

// Code page 1250: 0xAA is S-cedilla, 0xDE T-cedilla, 0xE9 e-acute.
constexpr char kShopName[] = "CASA \xAAOSEA";
constexpr char kShopNameShown[] = "CASA \u015EOSEA";

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

// A shell's setting controls without widgets: what ShowSettings puts in, TakeSettings reads
// back, as both shells do.
class FieldsView final : public ShellView {
public:
    void PrepareStartup() override {}
    void ShowSettings(const AppSettingsRecord& settings) override {
        controls = ShownSettings(settings);
    }
    void TakeSettings(AppSettingsRecord& settings) override {
        TakeSettingsFields(controls, settings);
    }
    void ShowRegisterList() override { ++listShown; }
    void ShowConnectState(bool connected) override { states.push_back(connected); }

    SettingsFields controls;
    int listShown = 0;
    std::vector<bool> states;
};

TEST(DisplayText, BytesShowAsUtf8OrCodePageLettersAndComeBackUnchanged) {
    EXPECT_EQ(DisplayText("CASA 1"), "CASA 1");
    EXPECT_EQ(DisplayText("CASA \xC4\x82"), "CASA \u0102");  // UTF-8 stays
    EXPECT_EQ(DisplayText(kShopName), kShopNameShown);
    // An unassigned byte of the code page still has a character of its own.
    EXPECT_EQ(DisplayText("A\x81Z"), "A\u0081Z");
    // Every byte comes back as it was when the text is left as shown.
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(StoredBytes(DisplayText(all), all), all);
    EXPECT_EQ(StoredBytes(kShopNameShown, kShopName), kShopName);

    // A changed text stays in the original's code page where it can, else becomes UTF-8.
    EXPECT_EQ(StoredBytes("CASA \u0162ARA", kShopName),
              "CASA \xDE"
              "ARA");
    EXPECT_EQ(StoredBytes("CASA \u03A9", kShopName), "CASA \xCE\xA9");
    EXPECT_EQ(StoredBytes("CASA \u0162ARA", "CASA 1"),
              "CASA \xC5\xA2"
              "ARA");
    // A text that is not UTF-8 at all is taken as it comes.
    EXPECT_EQ(StoredBytes("X\xFF", kShopName), "X\xFF");
}

class RegisterDialogModelTest : public ::testing::Test {
protected:
    RegisterDialogModelTest() : list(MakeRegisterList()) {
        AddRow(*list, {"1", "Datecs MP55", "9600", "8", "None", "1", "COM1", "DA01", "CASA 1"});
        AddRow(*list, {"2", "Datecs MP500", "19200", "7", "Even", "2", "COM2",
                       "DA\xE9"
                       "02",
                       kShopName});
    }

    RegisterFields Edited(std::size_t row) {
        list->MoveTo(row);
        return RegisterDialogModel(RegisterDialogMode::Edit, *list, dialogs, {}).Fields();
    }

    std::unique_ptr<CsvTable> list;
    FakeDialogs dialogs;
};

TEST_F(RegisterDialogModelTest, AddOffersTheListsAndStoresANewRegisterAfterTheQuestion) {
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs, {"/dev/ttyUSB0"});
    EXPECT_STREQ(model.Caption(), "Adaugare casa de marcat...");
    EXPECT_EQ(model.Fields(), NewRegisterFields());
    EXPECT_EQ(model.Fields().speed, "4800");
    EXPECT_EQ(model.Fields().port, "COM1");
    ASSERT_EQ(model.Ports().size(), 10u);
    EXPECT_EQ(model.Ports()[0], "COM1");
    EXPECT_EQ(model.Ports()[8], "COM9");
    EXPECT_EQ(model.Ports()[9], "/dev/ttyUSB0");
    EXPECT_EQ(RegisterModels().back(), "Datecs FP550T");
    EXPECT_EQ(TransferRates().back(), "38400");
    EXPECT_EQ(ParityChoices().back(), "Space");

    RegisterFields fields = model.Fields();
    fields.logicalNb = "5";
    fields.port = "/dev/ttyUSB0";
    fields.fiscal = "DA05";
    fields.cashPoint = "CASA 5";
    const auto before = Rows(*list);
    dialogs.answers = {false};
    EXPECT_EQ(model.Save(fields), Save::NotConfirmed);
    EXPECT_FALSE(RegisterDialogModel::Closes(Save::NotConfirmed));
    EXPECT_EQ(Rows(*list), before);
    EXPECT_EQ(model.Save(fields), Save::Saved);
    EXPECT_TRUE(RegisterDialogModel::Closes(Save::Saved));
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>(2, "Confirmati adaugarea casei de marcat?"));
    EXPECT_TRUE(dialogs.messages.empty());
    const auto rows = Rows(*list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2], (Row{"5", "Datecs MP55", "4800", "8", "None", "1", "/dev/ttyUSB0", "DA05",
                            "CASA 5"}));
}

TEST_F(RegisterDialogModelTest, ChecksRefuseWhatTheListCannotHoldWithTheSystemsMessages) {
    const auto before = Rows(*list);
    RegisterDialogModel model(RegisterDialogMode::Add, *list, dialogs, {});
    RegisterFields fields = model.Fields();
    fields.logicalNb = "12a";
    fields.port = "COM6";
    EXPECT_EQ(model.Save(fields), Save::Kept);
    EXPECT_FALSE(RegisterDialogModel::Closes(Save::Kept));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs.messages[0].text, "'12a' is not a valid integer value for field 'LogicalNb'");
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(Rows(*list), before);

    fields.logicalNb = "6";
    fields.fiscal = "DA,06";  // a comma cannot be carried by the list's file
    EXPECT_EQ(model.Save(fields), Save::Kept);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_NE(dialogs.messages[1].text.find("virgula"), std::string::npos);
    fields.fiscal = "DA06";
    fields.port = "/dev/serial/by-path/" + std::string(4076, 'x');  // longer than any path
    EXPECT_EQ(model.Save(fields), Save::Kept);
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[2].text,
              "Eroare: Campul CommPort poate avea cel mult 4095 caractere!");
    EXPECT_EQ(Rows(*list), before);

    // Another register's logical number or port: told, and the dialog closes on the list as it
    // was.
    fields.port = "COM6";
    fields.logicalNb = "2";
    EXPECT_EQ(model.Save(fields), Save::Refused);
    EXPECT_TRUE(RegisterDialogModel::Closes(Save::Refused));
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[3].kind, MessageKind::Information);
    EXPECT_EQ(dialogs.messages[3].text, register_dialog_text::kDuplicate);
    list->MoveTo(0);
    RegisterDialogModel edit(RegisterDialogMode::Edit, *list, dialogs, {});
    fields = edit.Fields();
    fields.port = "COM2";
    EXPECT_EQ(edit.Save(fields), Save::Refused);
    EXPECT_EQ(dialogs.Texts().back(), register_dialog_text::kDuplicate);
    EXPECT_EQ(dialogs.questions.back(), "Confirmati modificarea datelor pentru casa de marcat?");
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(Rows(*list), before);
}

TEST_F(RegisterDialogModelTest, EditShowsTheRowAndAnUnchangedSaveKeepsEveryByte) {
    const RegisterFields shown = Edited(1);
    EXPECT_EQ(shown, (RegisterFields{"2", "Datecs MP500", "COM2", "19200", "7", "2", "Even",
                                     "DA\u00E902", kShopNameShown}));
    const auto before = Rows(*list);
    list->MoveTo(1);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs, {});
    EXPECT_STREQ(model.Caption(), "Editare casa de marcat...");
    EXPECT_EQ(model.Save(model.Fields()), Save::Saved);
    EXPECT_EQ(Rows(*list), before);

    // A changed field takes the row's code page; the untouched one beside it keeps its bytes.
    list->MoveTo(1);
    RegisterDialogModel again(RegisterDialogMode::Edit, *list, dialogs, {});
    RegisterFields fields = again.Fields();
    fields.cashPoint = "CASA \u0162ARA";
    EXPECT_EQ(again.Save(fields), Save::Saved);
    list->MoveTo(1);
    EXPECT_EQ(list->AsText(kRegObservatii),
              "CASA \xDE"
              "ARA");
    EXPECT_EQ(list->AsText(kRegFiscal),
              "DA\xE9"
              "02");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(RegisterDialogModelTest, AValueTheListsDoNotOfferShowsEmptyAndIsSavedEmpty) {
    AddRow(*list, {"3", "Datecs MP9", "115200", "8", "None", "1", "/dev/ttyUSB4", "DA03", "C3"});
    RegisterFields shown = Edited(2);
    EXPECT_EQ(shown.port, "");
    EXPECT_EQ(shown.model, "");
    EXPECT_EQ(shown.speed, "");
    // Offered once the system lists it.
    list->MoveTo(2);
    RegisterDialogModel model(RegisterDialogMode::Edit, *list, dialogs, {});
    model.SetListedPorts({"/dev/ttyUSB4"});
    EXPECT_EQ(model.Fields().port, "/dev/ttyUSB4");
    model.SetListedPorts({});
    EXPECT_EQ(model.Save(model.Fields()), Save::Saved);
    list->MoveTo(2);
    EXPECT_TRUE(list->IsNull(kRegCommPort));
    EXPECT_EQ(list->AsText(kRegFiscal), "DA03");

    // Editing an empty list shows empty fields and adds the row.
    auto empty = MakeRegisterList();
    RegisterDialogModel first(RegisterDialogMode::Edit, *empty, dialogs, {});
    EXPECT_EQ(first.Fields(), RegisterFields{});
    RegisterFields fields = NewRegisterFields();
    fields.logicalNb = "1";
    EXPECT_EQ(first.Save(fields), Save::Saved);
    EXPECT_EQ(Rows(*empty).size(), 1u);
}

TEST(SettingsFields, TheControlsShowTheSettingsAndGiveBackWhatConverts) {
    test::RegionalSeparatorScope comma(',');
    AppSettingsRecord settings;
    settings.Prefix = 24;
    settings.PLU = "/srv/bo/PLU\xE9.txt";
    settings.ReceiptMaster = "Bon.txt";
    settings.ReceiptDetail = "Tran.txt";
    settings.Min = 12.5;
    settings.Max = 100000000;
    settings.RecDiscount = true;
    settings.ParallelLines = true;
    const SettingsFields shown = ShownSettings(settings);
    EXPECT_EQ(shown.prefix, "24");
    EXPECT_EQ(shown.articleFile, "/srv/bo/PLU\u00E9.txt");
    EXPECT_EQ(shown.cardFrom, "12,5");
    EXPECT_EQ(shown.cardTo, "100000000");
    EXPECT_TRUE(shown.recDiscount);
    EXPECT_FALSE(shown.recSepFiles);
    EXPECT_TRUE(shown.parallelLines);
    EXPECT_EQ(BarcodeSample(settings), "24 12345 12345 1");

    // Left as shown, nothing changes, the name's bytes included.
    AppSettingsRecord taken = settings;
    TakeSettingsFields(shown, taken);
    EXPECT_EQ(taken.PLU, settings.PLU);
    EXPECT_EQ(taken.Min, 12.5);

    SettingsFields typed = shown;
    const std::pair<const char*, int> prefixes[] = {{"0x1A", 26}, {"$1B", 27}, {" 28", 28},
                                                    {"2a", 28},   {"", 28},    {"-3", -3}};
    for (const auto& [text, expected] : prefixes) {
        typed.prefix = text;
        TakeSettingsFields(typed, taken);
        EXPECT_EQ(taken.Prefix, expected) << text;
    }
    typed.cardTo = "99,75";
    TakeSettingsFields(typed, taken);
    EXPECT_EQ(taken.Max, 99.75);
    typed.cardTo = "1.5";  // not with this separator: the limit stays
    typed.cardFrom = "x";
    TakeSettingsFields(typed, taken);
    EXPECT_EQ(taken.Max, 99.75);
    EXPECT_EQ(taken.Min, 12.5);
    typed.articleFile = "/srv/bo/PLU\u0162.txt";
    typed.recSepFiles = true;
    typed.parallelLines = false;
    TakeSettingsFields(typed, taken);
    EXPECT_EQ(taken.PLU, "/srv/bo/PLU\xDE.txt");
    EXPECT_TRUE(taken.RecSepFiles);
    EXPECT_FALSE(taken.ParallelLines);
}

TEST(DesktopRules, TheWindowAndTheConnectButtonFollowTheState) {
    EXPECT_TRUE(ShowWindowAtStartup(Result::Running, false));
    EXPECT_FALSE(ShowWindowAtStartup(Result::Running, true));
    EXPECT_FALSE(ShowWindowAtStartup(Result::Failed, false));
    EXPECT_FALSE(ShowWindowAtStartup(Result::Stopped, false));
    EXPECT_TRUE(HideWhenMinimised(true));
    EXPECT_FALSE(HideWhenMinimised(false));
    const ConnectLook on = ConnectLookOf(true);
    const ConnectLook off = ConnectLookOf(false);
    EXPECT_STREQ(on.buttonCaption, "&Deconectare");
    EXPECT_STREQ(off.buttonCaption, "&Conectare");
    EXPECT_FALSE(on.settingsEnabled);
    EXPECT_TRUE(off.settingsEnabled);
    EXPECT_TRUE(on.disconnectEnabled && !on.connectEnabled);
    EXPECT_TRUE(off.connectEnabled && !off.disconnectEnabled);
    EXPECT_TRUE(on.trayShowsConnected && !on.buttonShowsConnected);
    EXPECT_TRUE(!off.trayShowsConnected && off.buttonShowsConnected);
}

// Every test works in its own folder, on registers at "COM" ports, which Linux has not: their
// workers run and try the ports again, which is all a session needs of them here.
class DesktopSessionTest : public ::testing::Test {
protected:
    DesktopSessionTest() {
        UseSettingsIn(dir);
        WriteFile(AppSettings.PLU, "0000000000123,01,1,2.5,3,PAINE\r\n");
    }

    DesktopSession& Session() {
        if (!session) {
            session = std::make_unique<DesktopSession>(configPath, view, dialogs, notices,
                                                       ProgramHandlers{});
        }
        return *session;
    }

    // Starts on `list` and disconnects, as the register buttons need.
    void StartDisconnected(const std::string& list) {
        WriteFile(AppSettings.ECRList, list);
        ASSERT_EQ(Session().Startup(), Result::Running);
        Session().Control().DisconnectAction();
        ASSERT_FALSE(Connected);
    }

    TempFolder dir;
    std::string configPath = dir.File("Tallyport.ini");
    FakeDialogs dialogs;
    FieldsView view;
    NoticeRecorder notices;
    std::unique_ptr<DesktopSession> session;
};

const std::string kFirst = "1,Datecs MP55,9600,8,None,1,COM1,DA01,CASA 1\r\n";
const std::string kShop = std::string(
                              "2,Datecs MP500,19200,7,Even,2,COM2,DA\xE9"
                              "02,") +
                          kShopName + "\r\n";

TEST_F(DesktopSessionTest, ASaveFromTheDialogReachesTheRegisterListByteForByte) {
    StartDisconnected(kShop + kFirst);
    const int shownBefore = view.listShown;
    int dialogsShown = 0;
    // Unchanged: the file comes back as it was, in the list's order.
    Session().RegisterDialog(true, 1, [&](RegisterDialogModel& model) {
        ++dialogsShown;
        EXPECT_EQ(model.Fields().cashPoint, kShopNameShown);
        EXPECT_EQ(model.Save(model.Fields()), Save::Saved);
    });
    EXPECT_EQ(ReadFile(AppSettings.ECRList), kFirst + kShop);
    EXPECT_GT(view.listShown, shownBefore);  // shown again as read back

    // One field changed: only its bytes change.
    Session().RegisterDialog(true, 1, [&](RegisterDialogModel& model) {
        ++dialogsShown;
        RegisterFields fields = model.Fields();
        fields.fiscal = "DA99";
        EXPECT_EQ(model.Save(fields), Save::Saved);
    });
    EXPECT_EQ(ReadFile(AppSettings.ECRList),
              kFirst + "2,Datecs MP500,19200,7,Even,2,COM2,DA99," + kShopName + "\r\n");

    // No row selected: the first is edited. A dialog closed without a save writes the list as
    // it is.
    Session().RegisterDialog(true, std::nullopt, [&](RegisterDialogModel& model) {
        ++dialogsShown;
        EXPECT_EQ(model.Fields().logicalNb, "1");
    });
    // Added: the new row in its place by logical number, in UTF-8 as typed.
    Session().RegisterDialog(false, 0, [&](RegisterDialogModel& model) {
        ++dialogsShown;
        RegisterFields fields = model.Fields();
        fields.logicalNb = "0";
        fields.port = "COM5";
        fields.fiscal = "DA00";
        fields.cashPoint = "CASA \u0162ARA";
        EXPECT_EQ(model.Save(fields), Save::Saved);
    });
    EXPECT_EQ(dialogsShown, 4);
    EXPECT_EQ(ReadFile(AppSettings.ECRList),
              "0,Datecs MP55,4800,8,None,1,COM5,DA00,CASA \xC5\xA2"
              "ARA\r\n" +
                  kFirst + "2,Datecs MP500,19200,7,Even,2,COM2,DA99," + kShopName + "\r\n");
    const std::vector<RegisterGridRow> rows = Session().GridRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].remark, "CASA \u0162ARA");
    EXPECT_EQ(rows[2].nrLogic, "2");
    EXPECT_EQ(rows[2].remark, kShopNameShown);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DesktopSessionTest, DeleteAsksAndRemovesTheSelectedRowFromTheFile) {
    StartDisconnected(kFirst + kShop);
    dialogs.answers = {false, true};
    Session().DeleteRegister(0);
    EXPECT_EQ(ReadFile(AppSettings.ECRList), kFirst + kShop);
    Session().DeleteRegister(0);
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>(2, "Confirmati stergerea casei de marcat?"));
    EXPECT_EQ(ReadFile(AppSettings.ECRList), kShop);
    ASSERT_EQ(Session().GridRows().size(), 1u);
    EXPECT_EQ(Session().GridRows()[0].fiscal, "DA\u00E902");
}

TEST_F(DesktopSessionTest, AChosenFileKeepsItsBytesThroughTheSave) {
    StartDisconnected(kFirst);
    std::vector<std::string> shown;
    const std::string chosen = dir.File("Tran\xE9.TXT");
    TakeChosenFile(Session().Control(), SettingsFile::Transactions, chosen,
                   [&](const std::string& text) {
                       shown.push_back(text);
                       view.controls.transactionFile = text;
                   });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], DisplayText(chosen));
    EXPECT_EQ(AppSettings.ReceiptDetail, chosen);
    EXPECT_NE(ReadFile(configPath).find("ReceiptDetail=" + chosen + "\r\n"), std::string::npos);
}

TEST_F(DesktopSessionTest, TheCloseBoxAsksOnceAndTheStatusShowsInGridAndTray) {
    WriteFile(AppSettings.ECRList, kFirst);
    const std::string statusFile = dir.File("status.json");
    Session().KeepStatusFile(statusFile, StatusFileHeader{});
    ASSERT_EQ(Session().Startup(), Result::Running);
    const std::string tip = Session().Look();
    EXPECT_EQ(tip.rfind("Tallyport\n", 0), 0u);
    EXPECT_GT(tip.size(), std::string("Tallyport\n").size());
    EXPECT_TRUE(Exists(statusFile));
    const std::vector<RegisterGridRow> rows = Session().GridRows();
    ASSERT_EQ(rows.size(), 1u);
    const auto status = Session().CurrentStatus();
    EXPECT_FALSE(GridRowStatus(rows[0], status).empty());
    // A row without a worker (added after the start) shows no status.
    EXPECT_EQ(GridRowStatus(RegisterGridRow{.logicalNb = 7}, status), "");

    dialogs.answers = {false};
    EXPECT_FALSE(Session().WindowClosing());
    EXPECT_FALSE(Session().Control().Ended());
    EXPECT_TRUE(Connected);
    EXPECT_TRUE(Session().WindowClosing());
    EXPECT_TRUE(Session().Control().Ended());
    EXPECT_TRUE(Session().WindowClosing());  // ended: no question again
    EXPECT_EQ(dialogs.questions, std::vector<std::string>(2, "Confirmati inchiderea Tallyport?"));
    session.reset();
    EXPECT_FALSE(Exists(statusFile));  // a program that ended has no status
}

TEST(DesktopProgram, TheEntryRunsTheWindowOnlyForARun) {
    int windows = 0;
    RequestContext context;
    ProgramHandlers handlers;
    handlers.context = &context;
    const WindowRun run = [&](const CommandLine& line, ProgramHandlers given) {
        ++windows;
        EXPECT_EQ(line.configFile, std::optional<std::string>("x.ini"));
        EXPECT_EQ(given.context, handlers.context);
        return 7;
    };
    EXPECT_EQ(RunDesktopProgram({"tallyport", "--version"}, handlers, run), 0);
    EXPECT_EQ(RunDesktopProgram({"tallyport", "--no-such-option"}, handlers, run), 2);
    EXPECT_EQ(windows, 0);
    EXPECT_EQ(RunDesktopProgram({"tallyport", "--config", "x.ini"}, handlers, run), 7);
    EXPECT_EQ(windows, 1);
}

TEST(DesktopProgram, TheStartReadsTheConfigurationOrSaysWhyNot) {
    TempFolder dir;
    const std::string working = WorkingFolder();
    FakeDialogs dialogs;
    // A folder where the file should be: reported, and the program must end.
    std::filesystem::create_directory(dir.File("Folder.ini"));
    CommandLine line;
    line.configFile = dir.File("Folder.ini");
    EXPECT_FALSE(OpenDesktopFolders(line, dialogs).has_value());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_NE(dialogs.messages[0].text.find(dir.File("Folder.ini")), std::string::npos);

    WriteFile(dir.File("Tallyport.ini"), "[Scale]\r\nPrefix=27\r\n");
    line.configFile = dir.File("Tallyport.ini");
    const auto folders = OpenDesktopFolders(line, dialogs);
    ChangeWorkingFolder(working);
    ASSERT_TRUE(folders.has_value());
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(CanonicalPath(folders->configPath), CanonicalPath(dir.File("Tallyport.ini")));
    EXPECT_EQ(AppSettings.Prefix, 27);
}

TEST(DesktopProgram, TheManualIsFoundInTheWorkingFolderThenInTheHelpFolder) {
    TempFolder current;
    TempFolder help;
    const std::string working = WorkingFolder();
    ASSERT_EQ(ChangeWorkingFolder(current.Path().string()), 0);
    const auto none = FindManual(help.Path().string());
    std::filesystem::create_directory(current.File("ManualECR.htm"));  // a folder is no manual
    WriteFile(help.File("ManualECR.htm"), "<html></html>");
    const auto inHelp = FindManual(help.Path().string());
    std::filesystem::remove(current.File("ManualECR.htm"));
    WriteFile(current.File("ManualECR.htm"), "<html></html>");
    const auto inCurrent = FindManual(help.Path().string());
    ChangeWorkingFolder(working);

    EXPECT_FALSE(none.has_value());
    EXPECT_EQ(inHelp, std::optional<std::string>(help.File("ManualECR.htm")));
    EXPECT_EQ(inCurrent, std::optional<std::string>(current.File("ManualECR.htm")));

    // An installed program's manual is in the install's shared folder.
    const std::string root = "/opt/shop";
    EXPECT_EQ(HelpFolderFor(root + build_info::kInstallBinDir),
              NormalPath(root + build_info::kInstallShareDir));
    EXPECT_EQ(HelpFolderFor(current.Path().string()), current.Path().string());
}

}  // namespace
}  // namespace tallyport
