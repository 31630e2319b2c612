// A long day of the journal with one register's file that cannot be written, as a small timed
// tool: what the journal's files grow to, and what the failing file costs the other registers.
//
// Each register's worker is modelled by the records and waits its handlers make: per sale a
// sale record and a wait for it; per closing its closing record and a wait of at most one
// second (a closing not kept in time is cancelled and repeated by the register, as the real
// one does), then the acknowledgement, the files' places (waited for) and the two marks. The
// failing register's file is a folder all day: its worker is held at its first wait, as the
// real one is (not polled). The journal is the program's own, in a folder under $TMPDIR.
//
//     tallyport-bench-journal_day [--registers=N] [--receipts=N] [--sales=N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "journal/ReceiptJournal.h"
#include "support/SilentNotices.h"

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int Option(int argc, char** argv, const std::string& name, int fallback) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--" + name + "=", 0) == 0) {
            return std::atoi(arg.c_str() + name.size() + 3);
        }
    }
    return fallback;
}

struct Day {
    int repeats = 0;              // closings not kept within a second, repeated
    std::uintmax_t largest = 0;   // the register's journal file at its largest
    double slowestClosingMs = 0;  // the longest wait for a closing record
    std::vector<double> marksMs;  // acknowledgement to its record on the disk, per closing
};

std::string SaleLine(int reg, int sale) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "%04d,OP,NRBN,%013d,00000025,3,+0000001000,Paine%35s,01,1,NRZZZ,06/12/26,21:50",
                  reg, sale, "");
    return line;
}

void Trade(ReceiptJournal& journal, int reg, int receipts, int sales, Day& day, const bool& held) {
    const std::string path = journal.PathOf(reg);
    std::vector<std::string> pending;
    for (int r = 0; r < receipts; ++r) {
        for (int s = 0; s < sales; ++s) {
            pending.push_back(SaleLine(reg, s));
            while (!journal.WaitDurable(reg, journal.Append(reg, {SaleRecord(pending.back())}),
                                        200ms)) {
                if (held) {
                    return;  // the failing register: held, not served, all day
                }
            }
        }
        OpenClosing closing;
        closing.bonPath = "Bon.txt";
        closing.tranPath = "Tran.txt";
        closing.tranLines = pending;
        closing.bonLines = {SaleLine(reg, r).substr(0, 76)};
        for (;;) {
            closing.seq = journal.NextClosingSeq();
            const auto started = Clock::now();
            const auto ticket =
                journal.Append(reg, {ClosingRecord(closing, std::nullopt, "frame")});
            const bool kept = journal.WaitDurable(reg, ticket, 1000ms);
            day.slowestClosingMs =
                std::max(day.slowestClosingMs,
                         std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            std::error_code ignored;
            day.largest = std::max(day.largest, std::filesystem::file_size(path, ignored));
            if (kept) {
                break;
            }
            journal.Append(reg, {SeqRecord('X', closing.seq)});
            if (held) {
                return;
            }
            ++day.repeats;
        }
        // The acknowledgement's record is not waited for; the places' record after it is, so
        // this is how long after the acknowledgement a kill could still miss it.
        const auto acked = Clock::now();
        journal.Append(reg, {SeqRecord('P', closing.seq)});
        journal.WaitDurable(reg, journal.Append(reg, {IntentRecord(closing.seq, 0, 0)}), 10s);
        day.marksMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - acked).count());
        const auto done =
            journal.Append(reg, {SeqRecord('B', closing.seq), SeqRecord('D', closing.seq)});
        journal.WaitDurable(reg, done, 10s);
        pending.clear();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int registers = Option(argc, argv, "registers", 4);
    const int receipts = Option(argc, argv, "receipts", 150);
    const int sales = Option(argc, argv, "sales", 5);
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp != nullptr ? tmp : "/tmp") + "/tallyport-day-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return 1;
    }
    test::SilentNotices notices;
    std::vector<Day> days(static_cast<std::size_t>(registers) + 1);
    const auto started = Clock::now();
    {
        ReceiptJournal journal(folder + "/Tallyport.journal", notices);
        journal.Load();
        std::filesystem::create_directory(journal.PathOf(1));  // register 1's file: a folder
        const bool failing = true;
        const bool healthy = false;
        std::vector<std::thread> workers;
        for (int reg = 1; reg <= registers; ++reg) {
            workers.emplace_back(Trade, std::ref(journal), reg, receipts, sales,
                                 std::ref(days[static_cast<std::size_t>(reg)]),
                                 std::cref(reg == 1 ? failing : healthy));
        }
        for (auto& w : workers) {
            w.join();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("%d registers (register 1's file a folder all day), %d receipts of %d sales each\n",
                registers, receipts, sales);
    std::printf("wall time %.1f s\n", seconds);
    for (int reg = 2; reg <= registers; ++reg) {
        const Day& d = days[static_cast<std::size_t>(reg)];
        std::error_code ignored;
        const auto end = std::filesystem::file_size(
            folder + "/Tallyport.journal/ECR" + std::to_string(reg) + ".txt", ignored);
        std::vector<double> marks = d.marksMs;
        std::sort(marks.begin(), marks.end());
        const auto at = [&marks](double q) {
            return marks.empty() ? 0.0 : marks[static_cast<std::size_t>(q * (marks.size() - 1))];
        };
        std::printf(
            "register %d: closings repeated %d, slowest closing record %.1f ms, file "
            "largest %ju bytes, at the end %ju bytes; acknowledgement to its record on "
            "the disk: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
            reg, d.repeats, d.slowestClosingMs, d.largest, end, at(0.5), at(0.99), at(1.0));
    }
    std::filesystem::remove_all(folder);
    return 0;
}
