#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "control/ConfigFile.h"
#include "control/ConnectionControl.h"
#include "control/StopSequence.h"
#include "journal/JournalPlace.h"
#include "requests/OutputFileNames.h"
#include "requests/RequestHandlers.h"
#include "simulator/EcrSimulator.h"
#include "store/AppSettings.h"
#include "support/ScratchMount.h"
#include "support/ShellTestSupport.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::Exists;
using test::FakeDialogs;
using test::FakeView;
using test::NoticeRecorder;
using test::ReadFile;
using test::RegisterLine;
using test::TempFolder;
using test::UseSettingsIn;
using test::WriteFile;
using Result = TConnectionControl::StartupResult;

// Every test works in its own folder: the settings name files there, the configuration file
// lies there, and the registers are simulated on pseudo-terminals.
class ConnectionControlTest : public ::testing::Test {
protected:
    ConnectionControlTest() {
        UseSettingsIn(dir);
        WriteFile(AppSettings.PLU, "0000000000123,01,1,2.5,3,PAINE\r\n");
    }

    TConnectionControl& Control() {
        if (!control) {
            control =
                std::make_unique<TConnectionControl>(configPath, view, dialogs, notices, handlers);
        }
        return *control;
    }

    // The register list file names both simulators, in the order given.
    void ListRegisters(const std::string& lines) { WriteFile(AppSettings.ECRList, lines); }

    TempFolder dir;
    std::string configPath = dir.File("Tallyport.ini");
    FakeDialogs dialogs;
    FakeView view;
    NoticeRecorder notices;
    HandlerFactory handlers;  // empty: every message is accepted and dropped
    std::unique_ptr<TConnectionControl> control;
};

// Waits up to five seconds for `done`.
bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The polls a register hears once its worker has been stopped: the count taken when the polls
// written before the stop have arrived, and the count 300 ms later, when a worker that still ran
// would have polled again (it polls at least every 75 ms). A poll written just before the stop
// is still on its way when the stop returns: on the simulated wire (18 ms at 9600 baud) and, on
// a loaded machine, in the simulator's reading of it (its own allowance for that is 250 ms).
struct PollsAfterStop {
    std::size_t settled = 0;
    std::size_t later = 0;
};
PollsAfterStop PollsAfterTheStop(const sim::EcrSimulator& sim) {
    std::this_thread::sleep_for(400ms);
    PollsAfterStop polls;
    polls.settled = sim.PollCount();
    std::this_thread::sleep_for(300ms);
    polls.later = sim.PollCount();
    return polls;
}

TEST_F(ConnectionControlTest, StartupWithAValidListConnectsEveryRegister) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(2, second.PortName()) + RegisterLine(1, first.PortName()));

    EXPECT_EQ(Control().TrayStartup(), Result::Running);
    EXPECT_TRUE(Connected);
    EXPECT_FALSE(Control().Loading());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(view.prepared, 1);
    EXPECT_EQ(view.states, std::vector<bool>{true});
    ASSERT_EQ(Control().ECRThreads().size(), 2u);
    EXPECT_EQ(Control().ECRThreads()[0]->Link().LogicalNb, 1);  // the list's order
    EXPECT_TRUE(first.WaitForPolls(3, 5s));
    EXPECT_TRUE(second.WaitForPolls(3, 5s));
    // Nothing is written by starting.
    EXPECT_FALSE(Exists(configPath));

    // An orderly exit stops the links and writes settings and list back.
    EXPECT_TRUE(Control().CloseQuery(true));
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{"Confirmati inchiderea Tallyport?"});
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(Control().ECRThreads().empty());
    EXPECT_EQ(Control().PluHolder(), nullptr);
    const std::string config = ReadFile(configPath);
    EXPECT_NE(config.find("[Files]"), std::string::npos);
    EXPECT_NE(config.find("RecDecimals=0"), std::string::npos);
    EXPECT_EQ(ReadFile(AppSettings.ECRList),
              RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    const PollsAfterStop polls = PollsAfterTheStop(first);
    EXPECT_EQ(polls.later, polls.settled);
}

TEST_F(ConnectionControlTest, AMissingRegisterListEndsTheProgramWithoutWritingAnything) {
    WriteFile(configPath, "[Scale]\r\nPrefix=27\r\n");
    EXPECT_EQ(Control().TrayStartup(), Result::Failed);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs.messages[0].text, "Eroare: Fisierele aplicatiei sunt corupte! Reinstalati.");
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(Control().Ended());
    EXPECT_EQ(Control().PluHolder(), nullptr);
    EXPECT_EQ(ReadFile(configPath), "[Scale]\r\nPrefix=27\r\n");
    EXPECT_FALSE(Exists(AppSettings.ECRList));
    // Nothing can write afterwards either.
    Control().SettingsChanged();
    EXPECT_TRUE(Control().CloseQuery(true));
    EXPECT_FALSE(Exists(AppSettings.ECRList));
    EXPECT_EQ(ReadFile(configPath), "[Scale]\r\nPrefix=27\r\n");
}

TEST_F(ConnectionControlTest, ADuplicatePortInTheListEndsTheProgram) {
    ListRegisters(RegisterLine(1, "COM3") + RegisterLine(2, "COM3"));
    const std::string before = ReadFile(AppSettings.ECRList);
    EXPECT_EQ(Control().TrayStartup(), Result::Failed);
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"Eroare: Fisierele aplicatiei sunt corupte! Reinstalati."});
    EXPECT_EQ(ReadFile(AppSettings.ECRList), before);
    EXPECT_FALSE(Exists(configPath));
}

TEST_F(ConnectionControlTest, AnArticleFileThatFailsEndsTheProgramWithoutWritingAnything) {
    ListRegisters(RegisterLine(1, "COM1"));
    const std::string list = ReadFile(AppSettings.ECRList);
    for (const std::string& articles :
         {std::string("0000000000123,01,1,2.5,3,A\r\n0000000000123,01,1,3.5,3,B\r\n"),
          std::string("0000000000123,01,x,2.5,3,A\r\n")}) {
        WriteFile(AppSettings.PLU, articles);
        FakeDialogs localDialogs;
        FakeView localView;
        TConnectionControl local(configPath, localView, localDialogs, notices, nullptr);
        EXPECT_EQ(local.TrayStartup(), Result::Failed);
        EXPECT_EQ(localDialogs.Texts(),
                  std::vector<std::string>{
                      "Eroare: Fisier PLU incorect (existenta coduri duplicate sau alte erori)!"});
        EXPECT_TRUE(local.ECRThreads().empty());
        EXPECT_TRUE(local.CloseQuery(true));  // after the end nothing is written
    }
    std::filesystem::remove(AppSettings.PLU);
    FakeDialogs missingDialogs;
    TConnectionControl missing(configPath, view, missingDialogs, notices, nullptr);
    EXPECT_EQ(missing.TrayStartup(), Result::Failed);
    EXPECT_EQ(missingDialogs.messages.size(), 1u);
    EXPECT_EQ(ReadFile(AppSettings.ECRList), list);
    EXPECT_FALSE(Exists(configPath));
}

TEST_F(ConnectionControlTest, AnEmptyListWarnsAtStartupAndAtEveryConnect) {
    ListRegisters("");
    const std::string warning = "Nu exista nici o casa de marcat in tabela de configurare!";
    EXPECT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Warning);
    EXPECT_EQ(dialogs.messages[0].text, warning);
    EXPECT_FALSE(Connected);
    EXPECT_EQ(view.states, std::vector<bool>{false});

    Control().ConnectAction();
    Control().ConnectButtonAction();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(3, warning));
    EXPECT_FALSE(Connected);
    EXPECT_EQ(view.states, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(Control().StartECRThreads(), 2);
}

TEST_F(ConnectionControlTest, ARowThatCannotBecomeAWorkerKeepsTheWorkersBeforeIt) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator third(3);
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, "COM2", "") +
                  RegisterLine(3, third.PortName()));
    EXPECT_EQ(Control().TrayStartup(), Result::Running);
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"Eroare: Nu se poate initializa lista de case de marcat!"});
    EXPECT_FALSE(Connected);
    ASSERT_EQ(Control().ECRThreads().size(), 1u);
    EXPECT_EQ(first.PollCount(), 0u);

    // A later connect starts the workers that were built.
    Control().ConnectAction();
    EXPECT_TRUE(Connected);
    EXPECT_TRUE(first.WaitForPolls(2, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(third.PollCount(), 0u);
}

TEST_F(ConnectionControlTest, APortThatCannotOpenStillGetsAWorkerThatADisconnectStops) {
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(1, "/nonexistent/ttyX") + RegisterLine(2, second.PortName()));
    EXPECT_EQ(Control().TrayStartup(), Result::Running);
    EXPECT_TRUE(Connected);
    EXPECT_TRUE(dialogs.messages.empty());
    // Both started: the first tries its port about once a second.
    EXPECT_TRUE(Control().Started(0));
    EXPECT_TRUE(Control().Started(1));
    EXPECT_TRUE(Control().ECRThreads()[0]->Running());
    EXPECT_EQ(Control().ECRThreads()[0]->Link().Status.State(), PortState::CouldNotOpen);
    EXPECT_TRUE(second.WaitForPolls(2, 5s));

    Control().DisconnectAction();
    EXPECT_FALSE(Connected);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
    EXPECT_FALSE(Control().Started(0));
    EXPECT_FALSE(Control().Started(1));
    EXPECT_FALSE(Control().ECRThreads()[1]->Running());
    EXPECT_FALSE(Control().ECRThreads()[0]->Running());
}

TEST_F(ConnectionControlTest, WithNoPortThereYetTheProgramConnectsAndServesEachAsItAppears) {
    // A service started at boot before its USB adapters: it must not end up disconnected with
    // no worker trying, as it would if "no port could be opened" meant "stay disconnected".
    // Connected means the workers run; each serves its register as soon as its port appears.
    sim::EcrSimulator first(
        sim::EcrSimulator::Options{.logicalNb = 1, .linkPath = dir.File("usb1"), .plugged = false});
    sim::EcrSimulator second(
        sim::EcrSimulator::Options{.logicalNb = 2, .linkPath = dir.File("usb2"), .plugged = false});
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    EXPECT_EQ(Control().TrayStartup(), Result::Running);
    EXPECT_TRUE(Connected);
    EXPECT_EQ(view.states, std::vector<bool>{true});
    EXPECT_TRUE(dialogs.messages.empty()) << "the status tells, not a message box";
    for (const auto& worker : Control().ECRThreads()) {
        EXPECT_TRUE(worker->Running());
        EXPECT_EQ(worker->Link().Status.State(), PortState::CouldNotOpen);
    }
    Control().ConnectAction();  // already connected: nothing
    EXPECT_EQ(view.states, std::vector<bool>{true});

    first.Plug();
    EXPECT_TRUE(first.WaitForPolls(2, 5s)) << "the port that appeared was not served";
    EXPECT_TRUE(WaitFor(
        [&] { return Control().ECRThreads()[0]->Link().Status.State() == PortState::Open; }));
    EXPECT_EQ(Control().ECRThreads()[1]->Link().Status.State(), PortState::CouldNotOpen);

    Control().DisconnectAction();
    EXPECT_FALSE(Connected);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
    // Stopped workers try nothing more.
    second.Plug();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(second.PollCount(), 0u);
}

TEST_F(ConnectionControlTest, AnOpenReceiptRefusesDisconnectAndExit) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_TRUE(Connected);
    Control().ECRThreads()[1]->Link().PendingTranLines.Append("0002,OP,NRBN,...");
    const std::string refusal =
        "Eroare: Nu puteti deconecta casele cit timp exista bonuri deschise!";

    Control().DisconnectAction();
    EXPECT_TRUE(Connected);
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{refusal});
    EXPECT_EQ(view.states, (std::vector<bool>{true, true}));
    EXPECT_TRUE(Control().ECRThreads()[0]->Running());

    EXPECT_FALSE(Control().CloseQuery(true));
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{refusal, refusal}));
    EXPECT_TRUE(Connected);
    EXPECT_FALSE(Exists(configPath));
    const std::size_t polls = first.PollCount();
    EXPECT_TRUE(first.WaitForPolls(polls + 2, 5s));  // still served

    // A stop signal is refused the same way, without a box: the refusal goes to the log.
    EXPECT_EQ(Control().RequestStop(), TConnectionControl::StopResult::Refused);
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.logLines, std::vector<std::string>{refusal});
    EXPECT_TRUE(Control().AnyReceiptOpen());

    Control().ECRThreads()[1]->Link().PendingTranLines.Clear();
    EXPECT_FALSE(Control().AnyReceiptOpen());
    EXPECT_EQ(Control().RequestStop(), TConnectionControl::StopResult::Ended);
    EXPECT_EQ(dialogs.questions.size(), 1u);  // a stop asks nothing
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(Exists(configPath));
    EXPECT_EQ(Control().RequestStop(), TConnectionControl::StopResult::AlreadyEnded);
}

TEST_F(ConnectionControlTest, AStopThatMustEndIsNotRefusedAndNamesTheOpenReceipts) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    Control().ECRThreads()[1]->Link().PendingTranLines.Append("0002,OP,NRBN,1");
    Control().ECRThreads()[1]->Link().PendingTranLines.Append("0002,OP,NRBN,2");
    ASSERT_EQ(Control().OpenReceipts().size(), 1u);
    EXPECT_EQ(Control().OpenReceipts()[0].logicalNb, 2);
    EXPECT_EQ(Control().OpenReceipts()[0].lines, 2u);

    // A service stop, a shutdown: the system ends the process anyway, so the program ends now.
    EXPECT_EQ(Control().RequestStop(true), TConnectionControl::StopResult::Ended);
    EXPECT_TRUE(Control().Ended());
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(dialogs.messages.empty()) << "nobody is asked and nothing is refused";
    // Without a journal the lines cannot be kept, and the log says so.
    EXPECT_EQ(dialogs.logLines,
              std::vector<std::string>{"Oprire ceruta de sistem cu bonuri deschise: casa 2 (" +
                                       second.PortName() +
                                       ", 2 linii). Fara jurnal, liniile lor se pierd."});
    EXPECT_TRUE(Exists(configPath)) << "the settings are written as at any orderly exit";
    const PollsAfterStop polls = PollsAfterTheStop(first);
    EXPECT_EQ(polls.later, polls.settled) << "every worker has stopped";
    EXPECT_EQ(Control().RequestStop(true), TConnectionControl::StopResult::AlreadyEnded);
}

TEST_F(ConnectionControlTest, TheStopSequenceWaitsForReceiptsUnlessTheStopMustEnd) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    StopSequence sequence(Control());
    auto& pending = Control().ECRThreads()[0]->Link().PendingTranLines;
    pending.Append("0001,OP,NRBN,1");

    // Ctrl+C, SIGTERM: refused while the receipt is open, tried again until it has closed.
    EXPECT_EQ(sequence.Request({SIGINT, false}), StopSequence::Outcome::Continue);
    EXPECT_TRUE(sequence.Waiting());
    EXPECT_EQ(sequence.Retry(), StopSequence::Outcome::Continue);
    EXPECT_TRUE(sequence.Waiting());
    EXPECT_TRUE(Connected);
    // Then the system's stop, which cannot wait.
    EXPECT_EQ(sequence.Request({SIGTERM, true}), StopSequence::Outcome::Ended);
    EXPECT_FALSE(sequence.Waiting());
    EXPECT_TRUE(Control().Ended());
    EXPECT_EQ(sequence.Retry(), StopSequence::Outcome::Continue);
}

TEST_F(ConnectionControlTest, AStopSequenceEndsOnceTheLastReceiptCloses) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    StopSequence sequence(Control());
    auto& pending = Control().ECRThreads()[0]->Link().PendingTranLines;
    pending.Append("0001,OP,NRBN,1");
    EXPECT_EQ(sequence.Request({SIGTERM, false}), StopSequence::Outcome::Continue);
    pending.Clear();
    EXPECT_EQ(sequence.Retry(), StopSequence::Outcome::Ended);
    EXPECT_FALSE(sequence.Waiting());
    EXPECT_TRUE(Exists(configPath));
    // During the start-up any request ends the start-up.
    control.reset();
    StopSequence early(Control());
    EXPECT_EQ(early.Request({SIGINT, false}), StopSequence::Outcome::StartupAborted);
}

TEST_F(ConnectionControlTest, AClosingLineNotYetWrittenIsAnOpenReceiptToo) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    // Its transaction lines reached the file, its closing line did not: the register believes
    // the receipt recorded, so the line must not be dropped by a disconnect or an exit.
    Control().ECRThreads()[0]->Link().PendingBonLines.Append("0001,01,0042,0,...");
    EXPECT_TRUE(Control().AnyReceiptOpen());
    Control().DisconnectAction();
    EXPECT_TRUE(Connected);
    EXPECT_FALSE(Control().CloseQuery(false));
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(Control().ECRThreads()[0]->Running());
}

TEST_F(ConnectionControlTest, AReceiptOpenedWhileTheWorkersStopRefusesAndKeepsServing) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    // Register 1 sends a message whose handling outlasts the start of the disconnect: once the
    // disconnect has passed its first check and closes register 1's port, register 2 (later in
    // the list, still served) sells an article. The handling ends when the sale is recorded.
    std::atomic<bool> slowEntered{false};
    std::atomic<TSerialExtended*> secondLink{nullptr};
    handlers = [&](TSerialExtended& link) {
        auto table = std::make_shared<HandlerTable>();
        (*table)['1'].Run = [](TSerialExtended& l, const std::string&) {
            l.PendingTranLines.Append("sale");
            return true;
        };
        (*table)['W'].Run = [&](TSerialExtended& l, const std::string&) {
            slowEntered = true;
            EXPECT_TRUE(WaitFor([&] { return !l.Port.PortReady(); }));
            second.Enqueue(sim::Answer::Frame("DA02;X;1;123;;1.000"));
            EXPECT_TRUE(WaitFor([&] { return !secondLink.load()->PendingTranLines.Empty(); }));
            return true;
        };
        if (link.LogicalNb == 2) {
            secondLink = &link;
        }
        return table;
    };
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_NE(secondLink.load(), nullptr);
    first.Enqueue(sim::Answer::Frame("DA01;X;W;"));
    ASSERT_TRUE(WaitFor([&] { return slowEntered.load(); }));

    Control().DisconnectAction();
    EXPECT_TRUE(Connected);
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"Eroare: Nu puteti deconecta casele cit timp exista bonuri "
                                       "deschise!"});
    EXPECT_EQ(Control().ECRThreads()[1]->Link().PendingTranLines.Count(), 1u);
    // Both registers are served again: the open receipt can be closed.
    EXPECT_TRUE(Control().ECRThreads()[0]->Running());
    EXPECT_TRUE(Control().ECRThreads()[1]->Running());
    EXPECT_TRUE(first.WaitForPolls(first.PollCount() + 2, 5s));
    EXPECT_TRUE(second.WaitForPolls(second.PollCount() + 2, 5s));
}

TEST_F(ConnectionControlTest, NoToTheCloseQuestionChangesNothing) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    dialogs.answers = {false};
    EXPECT_FALSE(Control().CloseQuery(true));
    EXPECT_TRUE(Connected);
    EXPECT_FALSE(Control().Ended());
    EXPECT_FALSE(Exists(configPath));
    const std::size_t polls = first.PollCount();
    EXPECT_TRUE(first.WaitForPolls(polls + 2, 5s));
}

TEST_F(ConnectionControlTest, DisconnectThenConnectServesTheSameRegisters) {
    sim::EcrSimulator first(1);
    sim::EcrSimulator second(2);
    ListRegisters(RegisterLine(1, first.PortName()) + RegisterLine(2, second.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_TRUE(first.WaitForPolls(2, 5s));
    Control().ConnectButtonAction();  // connected: the button disconnects
    EXPECT_FALSE(Connected);
    const PollsAfterStop firstPolls = PollsAfterTheStop(first);
    const PollsAfterStop secondPolls = PollsAfterTheStop(second);
    EXPECT_EQ(firstPolls.later, firstPolls.settled);
    EXPECT_EQ(secondPolls.later, secondPolls.settled);

    Control().ConnectButtonAction();
    EXPECT_TRUE(Connected);
    EXPECT_TRUE(first.WaitForPolls(firstPolls.later + 3, 5s));
    EXPECT_TRUE(second.WaitForPolls(secondPolls.later + 3, 5s));
    EXPECT_EQ(view.states, (std::vector<bool>{true, false, true}));
}

TEST_F(ConnectionControlTest, WorkersCarryTheRowAndTheSettingsInListOrder) {
    AppSettings.Prefix = 27;
    AppSettings.Min = 1.5;
    AppSettings.Max = 900;
    AppSettings.RecDiscount = false;
    AppSettings.RecDecimals = true;
    AppSettings.RecSepFiles = true;
    AppSettings.ParallelLines = true;
    AppSettings.ReceiptMaster = "/srv/bo.d/Bon";
    AppSettings.ReceiptDetail = "Tran.txt";
    ListRegisters(
        "5,Datecs MP500,19200,7,Even,2,/nonexistent/tty5,DA05,A\r\n"
        "2,Datecs FP550T,2400,8,Odd,1,/nonexistent/tty2,DA02,B\r\n"
        "9,Datecs MP55,9600,8,Space,1,C:\\BO\\port,DA09,C\r\n");
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    const auto& workers = Control().ECRThreads();
    ASSERT_EQ(workers.size(), 3u);
    EXPECT_EQ(workers[0]->Link().LogicalNb, 2);
    EXPECT_EQ(workers[1]->Link().LogicalNb, 5);
    EXPECT_EQ(workers[2]->Link().LogicalNb, 9);
    const TSerialExtended& five = workers[1]->Link();
    EXPECT_EQ(five.ModelType, "Datecs MP500");
    EXPECT_EQ(five.TranRate, 19200);
    EXPECT_EQ(five.DataBits, 7);
    EXPECT_EQ(five.Parity, 'E');
    EXPECT_EQ(five.StopBits, 2);
    EXPECT_EQ(five.CommPort, "/nonexistent/tty5");
    EXPECT_EQ(five.Fiscal, "DA05");
    EXPECT_EQ(five.ScalePrefix, "27");
    EXPECT_EQ(five.CardMin, 1.5);
    EXPECT_EQ(five.CardMax, 900);
    EXPECT_FALSE(five.RecDiscount);
    EXPECT_TRUE(five.RecAmount);
    EXPECT_TRUE(five.RecDecimals);
    EXPECT_EQ(five.PluHolder, Control().PluHolder());
    EXPECT_EQ(five.ReceiptMasterFile, "/srv/bo.d/Bon5");
    EXPECT_EQ(five.ReceiptDetailFile, "Tran.txt5.txt");
    EXPECT_EQ(workers[0]->Link().Parity, 'O');
    EXPECT_EQ(workers[2]->Link().Parity, 'S');
    EXPECT_EQ(workers[2]->Link().ReceiptDetailFile, "Tran.txt9.txt");
    // Parallel lines: each worker takes its turns under a lock of its own, none under LinkLock.
    EXPECT_TRUE(five.ParallelLines);
    EXPECT_NE(&five.TurnLock(), &LinkLock);
    EXPECT_NE(&five.TurnLock(), &workers[0]->Link().TurnLock());
    EXPECT_NE(&workers[0]->Link().TurnLock(), &LinkLock);
}

TEST_F(ConnectionControlTest, WithoutSeparateFilesEveryWorkerWritesTheConfiguredNames) {
    ListRegisters(RegisterLine(3, "/nonexistent/tty3") + RegisterLine(4, "/nonexistent/tty4"));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    for (const auto& worker : Control().ECRThreads()) {
        EXPECT_EQ(worker->Link().ReceiptMasterFile, AppSettings.ReceiptMaster);
        EXPECT_EQ(worker->Link().ReceiptDetailFile, AppSettings.ReceiptDetail);
        // By default the lines are served in turn, all under the one link lock.
        EXPECT_FALSE(worker->Link().ParallelLines);
        EXPECT_EQ(&worker->Link().TurnLock(), &LinkLock);
    }
}

TEST(OutputFileNames, ExtensionAfterTheLastSeparator) {
    EXPECT_EQ(PerRegisterFileName("/srv/bo.d/Bon", 3), "/srv/bo.d/Bon3");
    EXPECT_EQ(PerRegisterFileName("Bon.txt", 12), "Bon.txt12.txt");
    EXPECT_EQ(PerRegisterFileName("Bon.txt", 5), "Bon.txt5.txt");
    EXPECT_EQ(PerRegisterFileName("C:\\BO\\Bon", 3), "C:\\BO\\Bon3");
    EXPECT_EQ(PerRegisterFileName("C:\\BO\\Bon.txt", 3), "C:\\BO\\Bon.txt3.txt");
    EXPECT_EQ(PerRegisterFileName("C:Bon", 1), "C:Bon1");
    EXPECT_EQ(PerRegisterFileName("C:\\BO.d\\Tran", 7), "C:\\BO.d\\Tran7");
    EXPECT_EQ(PerRegisterFileName("a.b.c", 1), "a.b.c1.c");
    EXPECT_EQ(PerRegisterFileName("", 2), "2");
    EXPECT_EQ(PerRegisterFileName("Bon.", 4), "Bon.4.");
    EXPECT_EQ(FileExtension("/x/.hidden"), ".hidden");
}

TEST_F(ConnectionControlTest, AStopDuringStartupEndsWithoutWritingAnything) {
    // A signal already waiting when the start-up begins.
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    const std::string list = ReadFile(AppSettings.ECRList);
    int probes = 0;
    Control().SetStopProbe([&probes] { return ++probes >= 1; });
    EXPECT_EQ(Control().TrayStartup(), Result::Stopped);
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(Control().ECRThreads().empty());
    EXPECT_EQ(first.PollCount(), 0u);
    EXPECT_FALSE(Exists(configPath));
    EXPECT_EQ(ReadFile(AppSettings.ECRList), list);
}

TEST_F(ConnectionControlTest, AStopRightAfterTheStartupConnectStopsTheWorkersAndWritesNothing) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    int probes = 0;
    // The last check of the start-up, after the registers were connected.
    Control().SetStopProbe([&] { return ++probes == 5 && Connected; });
    EXPECT_EQ(Control().TrayStartup(), Result::Stopped);
    EXPECT_EQ(probes, 5);
    EXPECT_FALSE(Connected);
    EXPECT_TRUE(Control().ECRThreads().empty());
    EXPECT_EQ(Control().PluHolder(), nullptr);
    // The worker may have polled before the stop, but not after it.
    const PollsAfterStop polls = PollsAfterTheStop(first);
    EXPECT_EQ(polls.later, polls.settled);
    EXPECT_FALSE(Exists(configPath));
}

TEST_F(ConnectionControlTest, AStopWhileAStartupMessageIsShownEndsWithoutWriting) {
    ListRegisters("");
    dialogs.onMessage = [this](const test::Shown&) {
        EXPECT_EQ(control->RequestStop(), TConnectionControl::StopResult::StartupAborted);
    };
    EXPECT_EQ(Control().TrayStartup(), Result::Stopped);
    EXPECT_EQ(dialogs.dismissed, 1);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(Control().Ended());
    EXPECT_EQ(ReadFile(AppSettings.ECRList), "");
    EXPECT_FALSE(Exists(configPath));
}

TEST_F(ConnectionControlTest, SettingsAreWrittenOnChangeButNotWhileLoading) {
    ListRegisters("");
    bool loadingSeen = false;
    dialogs.onMessage = [&](const test::Shown&) {
        loadingSeen = control->Loading();
        control->SettingsChanged();  // the start-up's own changes write nothing
    };
    view.change = [](AppSettingsRecord& s) { s.RecSepFiles = true; };
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    EXPECT_TRUE(loadingSeen);
    EXPECT_FALSE(Exists(configPath));
    EXPECT_EQ(view.taken, 0);

    Control().SettingsChanged();
    EXPECT_EQ(view.taken, 1);
    EXPECT_NE(ReadFile(configPath).find("RecSepFiles=1"), std::string::npos);
    EXPECT_TRUE(AppSettings.RecSepFiles);
}

TEST_F(ConnectionControlTest, DeleteAsksFirstAndReportsTheStoresRefusal) {
    const std::string one = RegisterLine(1, "/nonexistent/tty1");
    const std::string two = RegisterLine(2, "/nonexistent/tty2");
    ListRegisters(one + two);
    ASSERT_EQ(Control().TrayStartup(), Result::Running);

    dialogs.answers = {false};
    Control().DeleteRegister(0);
    EXPECT_EQ(Control().RegisterList().RowCount(), 2u);
    EXPECT_EQ(dialogs.questions.back(), "Confirmati stergerea casei de marcat?");

    Control().DeleteRegister(0);
    EXPECT_EQ(ReadFile(AppSettings.ECRList), two);
    EXPECT_EQ(Control().RegisterList().RowCount(), 1u);
    Control().DeleteRegister(0);
    EXPECT_EQ(ReadFile(AppSettings.ECRList), "");
    EXPECT_TRUE(dialogs.messages.empty());

    Control().DeleteRegister(std::nullopt);  // nothing left to delete: the store refuses
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
}

TEST_F(ConnectionControlTest, AListThatCannotBeSavedIsReportedAndKeptInMemory) {
    ListRegisters(RegisterLine(1, "/nonexistent/tty1"));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    AppSettings.ECRList = dir.File("missing-folder/ECRs.dat");
    CsvTable& list = Control().RegisterList();
    list.Append();
    list.SetFromText(0, "7");
    list.SetFromText(6, "COM7");
    list.Post();
    Control().SaveAndReloadRegisterList();
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"Cannot create file " + AppSettings.ECRList});
    EXPECT_EQ(list.RowCount(), 2u);
}

class SettingsFileTest : public ConnectionControlTest {
protected:
    // The program's folder on a small file system of its own, which a test can make read-only;
    // the configuration file and the register list lie in it.
    bool MountProgramFolder() {
        std::filesystem::create_directory(program);
        if (!mounts.MountTmpfs(program)) {
            return false;
        }
        configPath = program + "/Tallyport.ini";
        AppSettings.ECRList = program + "/ECRs.dat";
        return true;
    }

    std::string program = dir.File("program");
    test::ScratchMounts mounts;
};

TEST_F(SettingsFileTest, AFailedSettingsSaveIsShownOnceWithTheFileAndTheReason) {
    if (!MountProgramFolder()) {
        GTEST_SKIP() << mounts.Why();
    }
    const std::string config = "[Files]\r\nPLU=" + AppSettings.PLU + "\r\n";
    WriteFile(configPath, config);
    ListRegisters(RegisterLine(1, "/nonexistent/tty1"));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_TRUE(mounts.SetReadOnly(program, true)) << mounts.Why();

    view.change = [](AppSettingsRecord& s) { s.Prefix = 27; };
    Control().SettingsChanged();
    const std::string failure =
        "Eroare: Setarile nu pot fi salvate in fisierul " + AppSettings.ECRList +
        " (Read-only file system)!\nEroare: Setarile nu pot fi salvate in fisierul " + configPath +
        " (Read-only file system)!";
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{failure});
    EXPECT_EQ(dialogs.messages.at(0).kind, MessageKind::Error);
    // Every control the user leaves saves again: the same failure is not shown again.
    Control().SettingsChanged();
    Control().SettingsChanged();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(ReadFile(configPath), config);
    EXPECT_EQ(ReadFile(AppSettings.ECRList), RegisterLine(1, "/nonexistent/tty1"));

    // Once a save works, a later failure is shown again, at the exit as well.
    ASSERT_TRUE(mounts.SetReadOnly(program, false)) << mounts.Why();
    Control().SettingsChanged();
    EXPECT_NE(ReadFile(configPath).find("Prefix=27"), std::string::npos);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    ASSERT_TRUE(mounts.SetReadOnly(program, true)) << mounts.Why();
    EXPECT_TRUE(Control().CloseQuery(true));
    // The settings are on disk already (an unchanged file is not rewritten); the list is.
    const std::string listFailure = "Eroare: Setarile nu pot fi salvate in fisierul " +
                                    AppSettings.ECRList + " (Read-only file system)!";
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{failure, listFailure}));
}

TEST_F(SettingsFileTest, AnUnreadableConfigurationFileIsNamedAndNothingIsWritten) {
    // A folder where the file should be: the file exists but cannot be read.
    std::filesystem::create_directory(configPath);
    AppSettings = AppSettingsRecord{};
    EXPECT_FALSE(ReadConfigFile(configPath, dialogs));
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"Eroare: Fisierul de configurare " + configPath +
                                       " nu poate fi citit (Is a directory)!"});
    EXPECT_TRUE(std::filesystem::is_empty(configPath));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"PLU.txt", "Tallyport.ini"}));

    // A missing file is no error: the defaults, silently.
    dialogs.messages.clear();
    EXPECT_TRUE(ReadConfigFile(dir.File("none.ini"), dialogs));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(AppSettings.PLU, "PLU.txt");
    EXPECT_EQ(AppSettings.Prefix, 24);
    EXPECT_FALSE(Exists(dir.File("none.ini")));
}

}  // namespace
}  // namespace tallyport

// ---- with the request handlers and the journal ---------------------------------------------

namespace tallyport {
namespace {

// The program's own handlers and journal behind the control: what the registers were told
// outlives the control (a restart is a new control on the same files).
class JournalledControlTest : public ConnectionControlTest {
protected:
    JournalledControlTest() { handlers = RequestHandlerFactory(context); }
    ~JournalledControlTest() override { control.reset(); }

    void Restart() {
        control.reset();  // a new start on the same files: what it knows is in the journal
        ASSERT_EQ(Control().TrayStartup(), Result::Running);
    }

    TConnectionControl& Control() {
        if (!control) {
            ConnectionControlTest::Control().UseRequestContext(&context);
        }
        return *control;
    }

    RequestContext context;
};

std::vector<std::string> CrLfLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string bytes = ReadFile(path);
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", pos);
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end == std::string::npos ? bytes.size() : end + 2;
    }
    return lines;
}

TEST_F(JournalledControlTest, AFailedClosingRefusesTheExitAndIsWrittenWithTheNextOne) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_NE(Control().Journal(), nullptr);
    EXPECT_TRUE(Exists(ReceiptJournal::FolderBeside(AppSettings.ReceiptDetail)));

    // A sale, voided: no transaction line; the closing's line cannot reach its file.
    ASSERT_TRUE(first.Exchange(sim::Answer::Frame("DA01;1;1;123;;1.000"), 3s).response);
    first.Exchange(sim::Answer::Frame("DA01;2;B;"), 3s);
    std::filesystem::create_directory(AppSettings.ReceiptMaster);
    const auto closed =
        first.Exchange(sim::Answer::Frame("DA01;3;3;0;1;;;;42;12;2.5;;;;;;;;;5"), 3s);
    ASSERT_TRUE(closed.response) << "the closing is kept: it is acknowledged";
    ASSERT_TRUE(WaitFor([&] { return Control().AnyReceiptOpen(); }));
    EXPECT_FALSE(Control().CloseQuery(false));  // refused: its line is not in its file
    EXPECT_TRUE(Connected);

    // Killed now, started again: the journal gives the register its closing line back.
    Restart();
    EXPECT_TRUE(Control().AnyReceiptOpen());
    // The killed program's last poll may still be on the wire; the register would answer it
    // into the new program's first reception. Begin once the new program has polled.
    ASSERT_TRUE(first.WaitForPolls(first.PollCount() + 2, 5s));
    std::filesystem::remove(AppSettings.ReceiptMaster);
    ASSERT_TRUE(first.Exchange(sim::Answer::Frame("DA01;4;1;123;;1.000"), 3s).response);
    ASSERT_TRUE(
        first.Exchange(sim::Answer::Frame("DA01;5;3;0;1;;;;43;12;2.5;;;;;;;;;2.5"), 3s).response);
    ASSERT_TRUE(WaitFor([&] { return !Control().AnyReceiptOpen(); }));
    const auto bon = CrLfLines(AppSettings.ReceiptMaster);
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(bon[0].substr(0, 12), "0001,01,0042");
    EXPECT_EQ(bon[1].substr(0, 12), "0001,01,0043");
    EXPECT_EQ(CrLfLines(AppSettings.ReceiptDetail).size(), 1u);
    EXPECT_TRUE(Control().CloseQuery(false));
}

// What one register was told while trading: the price of each sale, in order, and the
// receipts whose closing was acknowledged.
struct RegisterDay {
    std::vector<std::string> prices;
    int closed = 0;
    std::string failure;
};

// One cashier: receipts of two sales of article 123 and a closing, until `stop`.
void TradeUntil(sim::EcrSimulator& sim, const std::atomic<bool>& stop, RegisterDay& day) {
    const std::string fiscal = "DA0" + std::to_string(sim.LogicalNb());
    int sequence = 0;
    const auto send = [&](const std::string& rest) {
        return sim.Exchange(
            sim::Answer::Frame(fiscal + ";" + std::to_string(++sequence) + ";" + rest), 5s);
    };
    while (!stop.load() && day.failure.empty()) {
        for (int sale = 0; sale < 2; ++sale) {
            const auto r = send("1;123;;1.000");
            if (!r.acked || !r.response || r.response->kind != sim::PcKind::Reply) {
                day.failure = "sale " + std::to_string(day.prices.size() + 1) + " unanswered";
                return;
            }
            // ";PAINE;<price>;...": the price the register was told.
            const std::string& text = r.response->text;
            const std::size_t from = text.find(';', 1) + 1;
            day.prices.push_back(text.substr(from, text.find(';', from) - from));
        }
        const std::string receipt = std::to_string(day.closed + 1);
        const auto r = send("3;0;1;;;;" + receipt + ";12;5;;;;;;;;;5");
        if (!r.acked || !r.response) {
            day.failure = "closing " + receipt + " unanswered";
            return;
        }
        ++day.closed;
    }
}

// The price field of a transaction line as the file holds it ("2.5" -> "00000025").
std::string PriceField(const std::string& price) {
    const std::string digits = price.substr(0, price.find('.')) + price.substr(price.find('.') + 1);
    return std::string(8 - digits.size(), '0') + digits;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t pos = 0;
    for (std::size_t comma; (comma = line.find(',', pos)) != std::string::npos; pos = comma + 1) {
        fields.push_back(line.substr(pos, comma - pos));
    }
    fields.push_back(line.substr(pos));
    return fields;
}

TEST_F(JournalledControlTest, EightRegistersTradeInParallelThroughAReloadAndASettingsChange) {
    // Eight registers, each on its own line, sell and close receipts while the back office
    // replaces the article file and the user changes a setting: every sale a register was told
    // of is in the transaction file once, at the price it was told, and every closing in the
    // receipt file once, in order. (Under ThreadSanitizer this also shows that nothing the
    // workers share is used without its own protection.)
    constexpr int kRegisters = 8;
    AppSettings.ParallelLines = true;
    std::vector<std::unique_ptr<sim::EcrSimulator>> sims;
    std::string list;
    for (int n = 1; n <= kRegisters; ++n) {
        sims.push_back(std::make_unique<sim::EcrSimulator>(n));
        list += RegisterLine(n, sims.back()->PortName());
    }
    ListRegisters(list);
    ASSERT_EQ(Control().TrayStartup(), Result::Running);

    std::atomic<bool> stop{false};
    std::vector<RegisterDay> days(kRegisters);
    std::vector<std::thread> cashiers;
    for (int i = 0; i < kRegisters; ++i) {
        cashiers.emplace_back(TradeUntil, std::ref(*sims[static_cast<std::size_t>(i)]),
                              std::cref(stop), std::ref(days[static_cast<std::size_t>(i)]));
    }
    const auto anyToldOf = [&](const std::string& price) {
        for (const auto& s : sims) {
            for (const auto& m : s->Messages()) {
                if (m.kind == sim::PcKind::Reply &&
                    m.text.find(";" + price + ";") != std::string::npos) {
                    return true;
                }
            }
        }
        return false;
    };
    std::this_thread::sleep_for(1s);
    // The back office puts a new article file in place (a later stamp, as a copy gives it).
    WriteFile(AppSettings.PLU, "0000000000123,01,1,3.5,3,PAINE\r\n");
    std::filesystem::last_write_time(
        AppSettings.PLU,
        std::filesystem::last_write_time(AppSettings.PLU) + std::chrono::seconds(2));
    // The user changes settings meanwhile; the workers keep what they were built with.
    view.change = [](AppSettingsRecord& settings) {
        settings.Min = 2;
        settings.RecDiscount = false;
    };
    Control().SettingsChanged();
    const auto reloaded = std::chrono::steady_clock::now() + 10s;
    while (!anyToldOf("3.5") && std::chrono::steady_clock::now() < reloaded) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(1s);
    stop.store(true);
    for (auto& c : cashiers) {
        c.join();
    }
    EXPECT_TRUE(anyToldOf("3.5")) << "the new article file was not taken in while trading";
    EXPECT_NE(ReadFile(configPath).find("Min=2"), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return !Control().AnyReceiptOpen(); }));

    std::map<int, std::vector<std::string>> soldAt;  // price fields by register
    for (const std::string& line : CrLfLines(AppSettings.ReceiptDetail)) {
        if (!line.empty()) {
            const auto fields = Fields(line);
            ASSERT_GE(fields.size(), 5u) << line;
            soldAt[std::stoi(fields[0])].push_back(fields[4]);
        }
    }
    std::map<int, std::vector<std::string>> closings;  // receipt numbers by register
    for (const std::string& line : CrLfLines(AppSettings.ReceiptMaster)) {
        if (!line.empty()) {
            const auto fields = Fields(line);
            ASSERT_GE(fields.size(), 3u) << line;
            closings[std::stoi(fields[0])].push_back(fields[2]);
        }
    }
    for (int n = 1; n <= kRegisters; ++n) {
        const RegisterDay& day = days[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(day.failure, "") << "register " << n;
        EXPECT_GE(day.closed, 2) << "register " << n;
        std::vector<std::string> told;
        for (const std::string& price : day.prices) {
            told.push_back(PriceField(price));
        }
        EXPECT_EQ(soldAt[n], told) << "register " << n;
        std::vector<std::string> receipts;
        for (int receipt = 1; receipt <= day.closed; ++receipt) {
            const std::string number = std::to_string(receipt);
            receipts.push_back(std::string(4 - number.size(), '0') + number);
        }
        EXPECT_EQ(closings[n], receipts) << "register " << n;
    }
    EXPECT_TRUE(Control().CloseQuery(false));
}

TEST_F(JournalledControlTest, AJournalThatCannotBeOpenedEndsTheStartWithAMessageAndNoWorker) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    const std::string folder = ReceiptJournal::FolderBeside(AppSettings.ReceiptDetail);
    WriteFile(folder, "a file where the journal's folder should be");
    EXPECT_EQ(Control().TrayStartup(), Result::Failed);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs.messages[0].text.rfind("Eroare: ", 0), 0u) << dialogs.messages[0].text;
    EXPECT_NE(dialogs.messages[0].text.find("Tallyport.journal"), std::string::npos)
        << dialogs.messages[0].text;
    EXPECT_FALSE(Connected);
    EXPECT_EQ(Control().Journal(), nullptr);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(first.PollCount(), 0u) << "a register was served without a journal";
    EXPECT_FALSE(Exists(configPath));
}

TEST_F(JournalledControlTest, ASecondProgramOnTheSameJournalFolderDoesNotConnect) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    // The other program: the service, say, with its own settings but this transaction file.
    ReceiptJournal other(AbsoluteFolder(ReceiptJournal::FolderBeside(AppSettings.ReceiptDetail)),
                         notices);
    other.Load();
    EXPECT_EQ(Control().TrayStartup(), Result::Failed);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MessageKind::Error);
    EXPECT_NE(
        dialogs.messages[0].text.find("este folosit de procesul " + std::to_string(::getpid())),
        std::string::npos)
        << dialogs.messages[0].text;
    EXPECT_FALSE(Connected);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(first.PollCount(), 0u);
}

TEST_F(JournalledControlTest, AChangedTransactionFilePathCarriesTheJournalWithIt) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    std::filesystem::create_directories(dir.File("old"));
    std::filesystem::create_directories(dir.File("new"));
    AppSettings.ReceiptDetail = dir.File("old/Tran.txt");
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_TRUE(first.Exchange(sim::Answer::Frame("DA01;1;1;123;;1.000"), 3s).response);
    ASSERT_TRUE(WaitFor([&] { return Control().AnyReceiptOpen(); }));

    // The program dies with the sale pending; the user then points the transaction file
    // elsewhere (the old folder's journal would never be read again).
    control.reset();
    AppSettings.ReceiptDetail = dir.File("new/Tran.txt");
    Restart();
    EXPECT_TRUE(Control().AnyReceiptOpen()) << "the sale was left behind";
    EXPECT_TRUE(Exists(dir.File("new/Tallyport.journal/ECR1.txt")));
    EXPECT_FALSE(Exists(dir.File("old/Tallyport.journal/ECR1.txt")));
    ASSERT_TRUE(first.WaitForPolls(first.PollCount() + 2, 5s));
    ASSERT_TRUE(
        first.Exchange(sim::Answer::Frame("DA01;2;3;0;1;;;;42;12;2.5;;;;;;;;;2.5"), 3s).response);
    ASSERT_TRUE(WaitFor([&] { return !Control().AnyReceiptOpen(); }));
    EXPECT_EQ(CrLfLines(dir.File("new/Tran.txt")).size(), 1u);
}

TEST_F(JournalledControlTest, AStopThatMustEndKeepsTheOpenReceiptForTheNextStart) {
    sim::EcrSimulator first(1);
    ListRegisters(RegisterLine(1, first.PortName()));
    ASSERT_EQ(Control().TrayStartup(), Result::Running);
    ASSERT_TRUE(first.Exchange(sim::Answer::Frame("DA01;1;1;123;;1.000"), 3s).response);
    ASSERT_TRUE(WaitFor([&] { return Control().AnyReceiptOpen(); }));

    EXPECT_EQ(Control().RequestStop(true), TConnectionControl::StopResult::Ended);
    EXPECT_FALSE(Connected);
    ASSERT_EQ(dialogs.logLines.size(), 1u);
    EXPECT_EQ(dialogs.logLines[0],
              "Oprire ceruta de sistem cu bonuri deschise: casa 1 (" + first.PortName() +
                  ", 1 linie). Liniile lor raman in jurnal si se scriu dupa repornire.");
    EXPECT_EQ(ReadFile(AppSettings.ReceiptDetail), "") << "nothing of the open receipt yet";

    // The next start has the receipt back; its closing writes the sale with it.
    Restart();
    EXPECT_TRUE(Control().AnyReceiptOpen());
    ASSERT_TRUE(first.WaitForPolls(first.PollCount() + 2, 5s));
    ASSERT_TRUE(
        first.Exchange(sim::Answer::Frame("DA01;2;3;0;1;;;;44;12;2.5;;;;;;;;;2.5"), 3s).response);
    ASSERT_TRUE(WaitFor([&] { return !Control().AnyReceiptOpen(); }));
    EXPECT_EQ(CrLfLines(AppSettings.ReceiptDetail).size(), 1u);
    const auto bon = CrLfLines(AppSettings.ReceiptMaster);
    ASSERT_EQ(bon.size(), 1u);
    EXPECT_EQ(bon[0].substr(0, 12), "0001,01,0044");
    EXPECT_TRUE(Control().CloseQuery(false));
}

}  // namespace
}  // namespace tallyport
