// The Windows parts of the control library and of base that no other suite reaches: stop
// requests from the console and from another thread, this process's identity, the regional
// decimal separator.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "base/DecimalSeparator.h"
#include "control/ProcessIdentity.h"
#include "control/SignalPipe.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;

TEST(SignalPipeOnWindows, RequestsFromAnotherThreadWakeTheWaitAndComeInOrder) {
    SignalPipe pipe{SIGTERM, SIGINT};
    EXPECT_FALSE(pipe.TakeRequest());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pipe.Wait(50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);

    std::thread service([&pipe] {
        std::this_thread::sleep_for(20ms);
        pipe.Deliver({SIGINT, false});
        pipe.Deliver({SIGTERM, true});
    });
    EXPECT_TRUE(pipe.Wait(5s));
    service.join();
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGINT, false}));
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGTERM, true}));
    EXPECT_FALSE(pipe.TakeRequest());
    EXPECT_FALSE(pipe.Wait(0ms)) << "taken: nothing waits any more";
    EXPECT_EQ(pipe.ReadFd(), -1);
}

TEST(SignalPipeOnWindows, CtrlBreakOfTheConsoleIsAnInterrupt) {
    SignalPipe pipe{SIGTERM, SIGINT};
    // Ctrl+Break reaches every process of the console's group this process leads, or, where
    // this process has no console of its own, cannot be sent at all.
    if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
        GTEST_SKIP() << "no console to send Ctrl+Break in (" << ::GetLastError() << ")";
    }
    ASSERT_TRUE(pipe.Wait(5s));
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGINT, false}));
}

TEST(ProcessIdentityOnWindows, ThisProcessIsRunningAndAnotherStartIsNot) {
    const long pid = ThisProcessId();
    EXPECT_EQ(pid, static_cast<long>(::GetCurrentProcessId()));
    const auto start = ProcessStart(pid);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(ProcessStart(pid), start) << "the same process gives the same start";
    EXPECT_TRUE(ProcessRunning(pid, *start));
    EXPECT_FALSE(ProcessRunning(pid, *start + 1));
    EXPECT_FALSE(ProcessStart(0).has_value());
    EXPECT_FALSE(ProcessRunning(-5, 0));
}

TEST(DecimalSeparatorOnWindows, LocalesByEitherSpelling) {
    EXPECT_EQ(DecimalSeparatorOfLocale("C"), '.');
    EXPECT_EQ(DecimalSeparatorOfLocale("no_SUCH_locale.UTF-8"), '.');
    EXPECT_EQ(DecimalSeparatorOfLocale("en-US"), '.');
    EXPECT_EQ(DecimalSeparatorOfLocale("ro-RO"), ',');
    EXPECT_EQ(DecimalSeparatorOfLocale("ro_RO.UTF-8"), ',');
    const char user = DecimalSeparatorOfLocale("");
    EXPECT_TRUE(user == '.' || user == ',') << user;
}

}  // namespace
}  // namespace tallyport
