#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace tallyport::testing {

// A pseudo-terminal pair in raw mode standing in for a serial line: the port object opens
// SlavePath(); the test talks on the master side. The pair keeps a slave descriptor of its own
// so that the line stays up while the port object closes and opens it again.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
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
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace tallyport::testing
