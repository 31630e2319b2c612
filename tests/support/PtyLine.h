#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace tallyport::sim {
class PtyPair;
}

namespace tallyport::test {

// A serial line for the serial port's own tests: a raw pseudo-terminal pair (the simulator's)
// at 9600 baud. The port object opens SlavePath(); the test talks on the master side. Owned
// and used by the test's thread.
class PtyLine {
public:
    PtyLine();  // a failure to make the pair is a test failure, and SlavePath() is then empty
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const;
    // A slave descriptor of the test's own, for reading the line's settings and queue; the
    // test never reads bytes from it.
    int Slave() const { return slave_; }

    // Writes all bytes on the master side.
    void Send(std::string_view bytes);
    // Reads on the master side until `count` bytes came or `within` has passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Bytes waiting on the slave side (what the port object has not read).
    int SlaveQueued() const;
    // Sends all bytes on the master side and waits until they are in the slave side's input
    // queue; false when they are not there within `within`.
    bool SendQueued(std::string_view bytes, std::chrono::milliseconds within);
    // Hangs the line up: the port object's side sees the device go away.
    void CloseMaster();

private:
    std::unique_ptr<sim::PtyPair> pair_;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace tallyport::test
