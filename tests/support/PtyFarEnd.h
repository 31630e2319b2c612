#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "support/PtyLine.h"

namespace tallyport::sim {
class PtyPair;
}

namespace tallyport::test {

// The far side of a test line on Linux: a raw pseudo-terminal pair (the simulator's) at 9600
// baud, its master for the bytes and a slave descriptor of its own for the queue and the
// settings (it never reads bytes from it). PtyLine uses it in the test's process; the line host
// uses it for a test program under Wine. Errors come back as errno values, never as test
// failures, so that the host can report them. Owned and used by one thread at a time.
class PtyFarEnd {
public:
    PtyFarEnd();  // throws std::system_error
    ~PtyFarEnd();
    PtyFarEnd(const PtyFarEnd&) = delete;
    PtyFarEnd& operator=(const PtyFarEnd&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // The far end's own slave descriptor, for a Linux test that reads the terminal's record.
    int Slave() const { return slave_; }

    // Writes all bytes on the master; 0 or the errno.
    int Send(std::string_view bytes);
    // Reads on the master until `count` bytes came or `within` has passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Bytes waiting on the slave side, -1 when that cannot be told (after a hang-up).
    int Queued() const;
    // Sends and waits until the bytes are in the slave's input queue; 0, ETIMEDOUT or the errno.
    int SendQueued(std::string_view bytes, std::chrono::milliseconds within);
    // Closes the master: the slave's users see the line hang up.
    void HangUp();
    // 0 or the errno.
    int Settings(FarSettings& settings) const;
    // A rate with a speed constant and the stop bits; 0 or the errno.
    int SetSettings(std::uint32_t rate, bool twoStopBits);

private:
    std::unique_ptr<sim::PtyPair> pair_;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace tallyport::test
