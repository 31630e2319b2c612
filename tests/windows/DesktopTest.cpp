// tallyport-desktop.exe driven as a user drives it, through its window's messages: the window
// shows the settings and keeps what is changed in it, the register dialog's save reaches the
// register list byte for byte (and its refusal leaves the list alone), the close query refuses
// while a receipt is open, and only one program at a time serves the registers.
#include <gtest/gtest.h>

#include "DesktopWindows.h"
#include "ProgramRun.h"
#include "base/BuildInfo.h"
#include "base/Paths.h"
#include "journal/JournalRecords.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempFolder;
using test::WaitUntil;
using test::WriteFile;
namespace ui = test::desktop;

constexpr wchar_t kDesktop[] = L"tallyport-desktop.exe";
constexpr char kTwoRegisters[] =
    // A cash point's name in the shop's code page (1250): "CASA \xAA" is "CASA Ş".
    "1,Datecs MP55,9600,8,None,1,COM7,DA00000001,CASA \xAA\r\n"
    "2,Datecs MP500,4800,8,None,1,COM8,DA00000002,CASA 2\r\n";

// A shop: its settings, its two registers (on ports this computer does not have: the workers
// run and try them again), an empty article file.
void MakeShop(const TempFolder& dir, const std::string& settings = {}) {
    WriteFile(dir.File("Tallyport.ini"),
              settings.empty() ? "[Files]\r\nPLU=PLU.txt\r\n" : settings);
    WriteFile(dir.File("PLU.txt"), "");
    WriteFile(dir.File("ECRs.dat"), kTwoRegisters);
}

// The program on the shop, its main window once the start-up is done (the connect button says
// what the start-up left: connected, since the workers run).
struct Desktop {
    explicit Desktop(const TempFolder& dir)
        : run({"--config", dir.File("Tallyport.ini")}, logs, kDesktop) {
        main = ui::WaitForMain(run.Pid());
        started =
            main &&
            WaitUntil([&] { return ui::ItemText(main, IDC_CONNECT) == L"&Deconectare"; }, 20s);
    }
    // What the program shows when it did not start as expected.
    std::string Why() {
        std::wstring shown = L"window " + std::to_wstring(reinterpret_cast<std::uintptr_t>(main));
        if (main) {
            shown += L", connect button \"" + ui::ItemText(main, IDC_CONNECT) + L"\"";
        }
        if (HWND box = ui::FindTopLevel(run.Pid(), L"#32770", nullptr)) {
            shown += L", message \"" + ui::ItemText(box, ui::kMessageBoxText) + L"\"";
        }
        return std::string(shown.begin(), shown.end()) + "; log: " + run.Err();
    }
    // "&Deconectare": no receipt is open, so the registers let go and the settings unlock.
    bool Disconnect() {
        ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
        return ui::ItemText(main, IDC_CONNECT) == L"&Conectare";
    }
    // Answers the message box with `caption` by `button`; gives its text.
    std::wstring Answer(const wchar_t* caption, int button) {
        HWND box = ui::WaitForMessageBox(run.Pid(), caption);
        if (!box) {
            return L"(no message box " + std::wstring(caption) + L")";
        }
        const std::wstring text = ui::ItemText(box, ui::kMessageBoxText);
        ui::Press(box, button);
        ui::WaitUntilGone(box);
        return text;
    }
    // "Iesire", answered Yes: the program ends in order.
    std::optional<DWORD> Exit() {
        ui::Press(main, IDC_CLOSE);
        const std::wstring question = Answer(L"Confirmare", IDYES);
        EXPECT_EQ(question, L"Confirmati inchiderea Tallyport?");
        return run.WaitForExit(20s);
    }

    TempFolder logs;
    test::ProgramRun run;
    HWND main = nullptr;
    bool started = false;
};

TEST(DesktopProgram, TheWindowShowsTheSettingsAndKeepsWhatIsChanged) {
    TempFolder dir;
    MakeShop(dir,
             "[Files]\r\nPLU=Articole.txt\r\nReceiptMaster=Bonuri.txt\r\nReceiptDetail=Tran.txt\r\n"
             "[CardOptions]\r\nMin=2\r\nMax=150\r\n[Scale]\r\nPrefix=27\r\n"
             "[Options]\r\nRecDiscount=1\r\nRecAmount=0\r\nRecSepFiles=1\r\nRecDecimals=0\r\n"
             "ParallelLines=1\r\n");
    WriteFile(dir.File("Articole.txt"), "");
    Desktop desktop(dir);
    ASSERT_TRUE(desktop.started) << desktop.Why();
    HWND main = desktop.main;

    EXPECT_EQ(ui::Text(main), L"Tallyport versiunea " + test::WideText(build_info::kVersion));
    EXPECT_EQ(::SendMessageW(ui::Item(main, IDC_TABS), TCM_GETITEMCOUNT, 0, 0), 5);
    EXPECT_EQ(ui::ItemText(main, IDC_BARCODE), L"27 12345 12345 1");
    EXPECT_EQ(ui::ItemText(main, IDC_PREFIX), L"27");
    EXPECT_EQ(ui::ItemText(main, IDC_PLUFILE), L"Articole.txt");
    EXPECT_EQ(ui::ItemText(main, IDC_BONFILE), L"Bonuri.txt");
    EXPECT_EQ(ui::ItemText(main, IDC_TRANFILE), L"Tran.txt");
    EXPECT_EQ(ui::ItemText(main, IDC_CARDFROM), L"2");
    EXPECT_EQ(ui::ItemText(main, IDC_CARDTO), L"150");
    EXPECT_TRUE(ui::IsChecked(main, IDC_RECDISCOUNT));
    EXPECT_FALSE(ui::IsChecked(main, IDC_RECDUEMULTIPAY));
    EXPECT_TRUE(ui::IsChecked(main, IDC_RECSEPFILES));
    EXPECT_FALSE(ui::IsChecked(main, IDC_RECDECINFILE));
    EXPECT_TRUE(ui::IsChecked(main, IDC_PARALLELLINES));
    ASSERT_EQ(ui::GridRows(main), 2);
    EXPECT_EQ(ui::GridCell(main, 0, 0), L"1");
    EXPECT_EQ(ui::GridCell(main, 0, 1), L"DA00000001");
    EXPECT_EQ(ui::GridCell(main, 0, 2), L"COM7");
    EXPECT_EQ(ui::GridCell(main, 1, 3), L"Datecs MP500");
    EXPECT_EQ(ui::GridCell(main, 0, 4), L"CASA \u015E");

    // Connected, the settings are locked; disconnected, they can be changed.
    EXPECT_FALSE(::IsWindowEnabled(ui::Item(main, IDC_PREFIX)));
    EXPECT_FALSE(::IsWindowEnabled(ui::Item(main, IDC_INSERT)));
    ASSERT_TRUE(desktop.Disconnect());
    EXPECT_TRUE(::IsWindowEnabled(ui::Item(main, IDC_PREFIX)));
    EXPECT_TRUE(::IsWindowEnabled(ui::Item(main, IDC_RECDISCOUNT)));

    // Leaving an edit keeps its setting at once; a text that is not a number keeps the old one.
    ui::SetItemText(main, IDC_PREFIX, L"31");
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_PREFIX, EN_KILLFOCUS),
                   reinterpret_cast<LPARAM>(ui::Item(main, IDC_PREFIX)));
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("Prefix=31"), std::string::npos)
        << ReadFile(dir.File("Tallyport.ini"));
    ui::SetItemText(main, IDC_CARDTO, L"multi");
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CARDTO, EN_KILLFOCUS),
                   reinterpret_cast<LPARAM>(ui::Item(main, IDC_CARDTO)));
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("Max=150"), std::string::npos);
    // Ticking an option keeps it at once.
    ::SendMessageW(ui::Item(main, IDC_RECDUEMULTIPAY), BM_CLICK, 0, 0);
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("RecAmount=1"), std::string::npos)
        << ReadFile(dir.File("Tallyport.ini"));
    ::SendMessageW(ui::Item(main, IDC_PARALLELLINES), BM_CLICK, 0, 0);
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("ParallelLines=0"), std::string::npos)
        << ReadFile(dir.File("Tallyport.ini"));

    // "...": the file chosen in the file dialog is shown and kept at once; a cancelled dialog
    // changes nothing.
    WriteFile(dir.File("Alte.txt"), "");
    ui::Press(main, IDC_BROWSE_PLU);
    HWND open = ui::WaitForOtherDialog(desktop.run.Pid(), main);
    ASSERT_NE(open, nullptr);
    ui::SetItemText(open, ui::kFileNameBox, test::WideText(dir.File("Alte.txt")));
    ui::Press(open, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(open));
    ui::Settle(main);
    EXPECT_EQ(ui::ItemText(main, IDC_PLUFILE), test::WideText(dir.File("Alte.txt")));
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("PLU=" + dir.File("Alte.txt")),
              std::string::npos)
        << ReadFile(dir.File("Tallyport.ini"));
    const std::string chosen = ReadFile(dir.File("Tallyport.ini"));
    ui::Press(main, IDC_BROWSE_BON);
    open = ui::WaitForOtherDialog(desktop.run.Pid(), main);
    ASSERT_NE(open, nullptr);
    ui::Press(open, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(open));
    ui::Settle(main);
    EXPECT_EQ(ui::ItemText(main, IDC_BONFILE), L"Bonuri.txt");
    EXPECT_EQ(ReadFile(dir.File("Tallyport.ini")), chosen);

    EXPECT_EQ(desktop.Exit(), 0u) << desktop.run.Err();
    const std::string settings = ReadFile(dir.File("Tallyport.ini"));
    EXPECT_NE(settings.find("Prefix=31"), std::string::npos) << settings;
    EXPECT_NE(settings.find("RecAmount=1"), std::string::npos) << settings;
    EXPECT_NE(settings.find("PLU=" + dir.File("Alte.txt")), std::string::npos) << settings;
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), kTwoRegisters) << "a list left alone is kept";
}

TEST(DesktopProgram, TheRegisterDialogsSaveReachesTheListByteForByte) {
    TempFolder dir;
    MakeShop(dir);
    Desktop desktop(dir);
    ASSERT_TRUE(desktop.started) << desktop.Why();
    HWND main = desktop.main;
    ASSERT_TRUE(desktop.Disconnect());
    const DWORD pid = desktop.run.Pid();

    // "&Modifica" on the first row: the dialog shows it.
    ui::Press(main, IDC_EDIT);
    HWND dialog = ui::WaitForDialog(pid, L"Editare casa de marcat...");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ui::ItemText(dialog, IDC_LOGICNO), L"1");
    EXPECT_EQ(ui::ItemText(dialog, IDC_MODEL), L"Datecs MP55");
    EXPECT_EQ(ui::ItemText(dialog, IDC_PORT), L"COM7");
    EXPECT_EQ(ui::ItemText(dialog, IDC_SPEED), L"9600");
    EXPECT_EQ(ui::ItemText(dialog, IDC_DATABITS), L"8");
    EXPECT_EQ(ui::ItemText(dialog, IDC_STOPBITS), L"1");
    EXPECT_EQ(ui::ItemText(dialog, IDC_PARITY), L"None");
    EXPECT_EQ(ui::ItemText(dialog, IDC_FISCAL), L"DA00000001");
    EXPECT_EQ(ui::ItemText(dialog, IDC_CASHPOINT), L"CASA \u015E");
    // A new fiscal series; the cash point's name left as it shows keeps its bytes.
    ui::SetItemText(dialog, IDC_FISCAL, L"DA00000099");
    ui::Press(dialog, IDOK);
    EXPECT_EQ(desktop.Answer(L"Confirmare", IDYES),
              L"Confirmati modificarea datelor pentru casa de marcat?");
    ASSERT_TRUE(ui::WaitUntilGone(dialog));
    ui::Settle(main);  // the list saved and shown again
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,COM7,DA00000099,CASA \xAA\r\n"
              "2,Datecs MP500,4800,8,None,1,COM8,DA00000002,CASA 2\r\n");
    EXPECT_EQ(ui::GridCell(main, 0, 1), L"DA00000099");
    EXPECT_EQ(ui::GridCell(main, 0, 4), L"CASA \u015E");

    // "&Adauga": a new register with the values of a new one; the cash point's letters become
    // capitals as they are typed.
    ui::Press(main, IDC_INSERT);
    dialog = ui::WaitForDialog(pid, L"Adaugare casa de marcat...");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ui::ItemText(dialog, IDC_MODEL), L"Datecs MP55");
    EXPECT_EQ(ui::ItemText(dialog, IDC_PORT), L"COM1");
    EXPECT_EQ(ui::ItemText(dialog, IDC_SPEED), L"4800");
    EXPECT_EQ(ui::ItemText(dialog, IDC_PARITY), L"None");
    ui::SetItemText(dialog, IDC_LOGICNO, L"3");
    ::SendMessageW(ui::Item(dialog, IDC_PORT), CB_SETCURSEL, 8, 0);  // "COM9"
    ui::SetItemText(dialog, IDC_FISCAL, L"DA3");
    ui::SetItemText(dialog, IDC_CASHPOINT, L"casa noua");
    ui::Press(dialog, IDOK);
    EXPECT_EQ(desktop.Answer(L"Confirmare", IDYES), L"Confirmati adaugarea casei de marcat?");
    ASSERT_TRUE(ui::WaitUntilGone(dialog));
    ui::Settle(main);  // the list saved and shown again
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,COM7,DA00000099,CASA \xAA\r\n"
              "2,Datecs MP500,4800,8,None,1,COM8,DA00000002,CASA 2\r\n"
              "3,Datecs MP55,4800,8,None,1,COM9,DA3,CASA NOUA\r\n");
    ASSERT_EQ(ui::GridRows(main), 3);
    EXPECT_EQ(ui::GridCell(main, 2, 4), L"CASA NOUA");

    // "&Adauga" with the logical number of another register: refused, the list as it was.
    const std::string before = ReadFile(dir.File("ECRs.dat"));
    ui::Press(main, IDC_INSERT);
    dialog = ui::WaitForDialog(pid, L"Adaugare casa de marcat...");
    ASSERT_NE(dialog, nullptr);
    ui::SetItemText(dialog, IDC_LOGICNO, L"2");
    ui::Press(dialog, IDOK);
    EXPECT_EQ(desktop.Answer(L"Confirmare", IDYES), L"Confirmati adaugarea casei de marcat?");
    EXPECT_EQ(desktop.Answer(L"Informatie", IDOK),
              L"Erroare: Verificati numarul logic si portul serial. Nu pot fi inregistrate doua "
              L"case cu aceleasi setari!");
    ASSERT_TRUE(ui::WaitUntilGone(dialog));
    ui::Settle(main);  // the list saved and shown again
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), before);
    EXPECT_EQ(ui::GridRows(main), 3);

    // Escape ("&Renunta") closes without a question and changes nothing.
    ui::Press(main, IDC_EDIT);
    dialog = ui::WaitForDialog(pid, L"Editare casa de marcat...");
    ASSERT_NE(dialog, nullptr);
    ui::SetItemText(dialog, IDC_FISCAL, L"NU SE PASTREAZA");
    ui::Press(dialog, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(dialog));
    ui::Settle(main);  // the list saved and shown again
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), before);
    EXPECT_EQ(desktop.Exit(), 0u) << desktop.run.Err();
}

TEST(DesktopProgram, TheCloseQueryRefusesWhileAReceiptIsOpen) {
    TempFolder dir;
    MakeShop(dir, "[Files]\r\nPLU=PLU.txt\r\nReceiptDetail=Tran.txt\r\n");
    // Register 1 sold an article before the last end: its journal (beside the transaction
    // file) gives it the open receipt back at the start.
    ASSERT_EQ(MakeFolders(dir.File("Tallyport.journal")), 0);
    WriteFile(dir.File("Tallyport.journal/ECR1.txt"),
              EncodeRecord(JournalRecord{'S', {"1,PAINE,1,2.5,01,1"}}));
    Desktop desktop(dir);
    ASSERT_TRUE(desktop.started) << desktop.Why();

    ::PostMessageW(desktop.main, WM_CLOSE, 0, 0);
    EXPECT_EQ(desktop.Answer(L"Confirmare", IDYES), L"Confirmati inchiderea Tallyport?");
    EXPECT_EQ(desktop.Answer(L"Eroare", IDOK),
              L"Eroare: Nu puteti deconecta casele cit timp exista bonuri deschise!");
    EXPECT_FALSE(desktop.run.WaitForExit(0ms).has_value()) << "the program ended";
    EXPECT_TRUE(::IsWindow(desktop.main));
    EXPECT_EQ(ui::ItemText(desktop.main, IDC_CONNECT), L"&Deconectare");
    // The same refusal for the connect button.
    ui::Press(desktop.main, IDC_CONNECT);
    EXPECT_EQ(desktop.Answer(L"Eroare", IDOK),
              L"Eroare: Nu puteti deconecta casele cit timp exista bonuri deschise!");
    EXPECT_EQ(ui::ItemText(desktop.main, IDC_CONNECT), L"&Deconectare");
}

TEST(DesktopProgram, OneProgramAtATimeServesTheRegisters) {
    TempFolder dir;
    MakeShop(dir);
    TempFolder other;
    MakeShop(other);
    TempFolder logs;
    {
        // The desktop program first: the console program says so and does not start.
        Desktop desktop(dir);
        ASSERT_TRUE(desktop.started) << desktop.Why();
        std::string err;
        EXPECT_EQ(test::RunToEnd({"--config", other.File("Tallyport.ini")}, logs, nullptr, &err),
                  1u);
        EXPECT_NE(err.find("deja servite de alt program Tallyport"), std::string::npos) << err;
        // Nor does a second desktop program without its window.
        err.clear();
        EXPECT_EQ(test::RunToEnd({"--headless", "--config", other.File("Tallyport.ini")}, logs,
                                 nullptr, &err, 30s, kDesktop),
                  1u);
        EXPECT_NE(err.find("deja servite de alt program Tallyport"), std::string::npos) << err;
        EXPECT_EQ(desktop.Exit(), 0u);
    }
    // The console program first: the desktop program says so and ends without writing.
    test::ProgramRun console({"--config", other.File("Tallyport.ini")}, logs);
    ASSERT_TRUE(WaitUntil([&] { return console.Err().find("porneste") != std::string::npos; }, 20s))
        << console.Err();
    const std::string settings = ReadFile(dir.File("Tallyport.ini"));
    TempFolder desktopLogs;
    test::ProgramRun desktop({"--config", dir.File("Tallyport.ini")}, desktopLogs, kDesktop);
    HWND box = ui::WaitForMessageBox(desktop.Pid(), L"Atentie");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(ui::ItemText(box, ui::kMessageBoxText).find(L"deja servite"), std::wstring::npos);
    ui::Press(box, IDOK);
    EXPECT_EQ(desktop.WaitForExit(20s), 1u);
    EXPECT_EQ(ui::FindTopLevel(desktop.Pid(), TALLYPORT_MAIN_CLASS, nullptr), nullptr);
    EXPECT_EQ(ReadFile(dir.File("Tallyport.ini")), settings);
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), kTwoRegisters);
}

}  // namespace
}  // namespace tallyport
