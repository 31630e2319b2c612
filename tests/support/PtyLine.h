#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::test {

// A line's settings as its far side, the pseudo-terminal, holds them.
struct FarSettings {
    std::uint32_t rate = 0;
    bool twoStopBits = false;
    bool raw = false;          // every byte passes unchanged both ways (a break may be ignored)
    bool rtsCts = false;       // hardware flow control
    bool xonOutput = false;    // XON/XOFF on what the port sends
    bool xonInput = false;     // XON/XOFF on what it receives
    bool parityCheck = false;  // input parity checking
};

// A serial line for the serial port's own tests: a raw pseudo-terminal pair at 9600 baud whose
// far side (the register's end) is in the test's hands, while the port object opens PortName().
// On Linux the test holds the pair itself. A Windows program under Wine cannot make one: there
// the pair is held by the line host, a Linux program that runs the test program, maps the
// pair's port side into Wine's device folder as a COM port (COM10 and up) and plays the far
// side on the test's requests. Owned by one test; its calls may come from any one thread at a
// time. A failure of the line itself is a test failure.
class PtyLine {
public:
    PtyLine();  // on failure PortName() is empty
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // The name the port object opens ("/dev/pts/7", "COM12").
    const std::string& PortName() const { return portName_; }
    // What the port object then reports as DeviceName and PortNumber ("\\.\COM12", 11).
    const std::string& DeviceName() const { return deviceName_; }
    int PortNumber() const { return portNumber_; }

    // Writes all bytes on the far side.
    void Send(std::string_view bytes);
    // Reads on the far side until `count` bytes came or `within` has passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Bytes waiting in the port's input queue (what the port object has not read), -1 when
    // that cannot be told.
    int PortQueued();
    // Sends all bytes and waits until they are in the port's input queue; false when they are
    // not there within `within`.
    bool SendQueued(std::string_view bytes, std::chrono::milliseconds within);
    // Hangs the line up: the port object's side sees the device go away.
    void HangUp();
    // The line's settings as the far side holds them; nullopt (and a test failure) when they
    // cannot be read.
    std::optional<FarSettings> Settings();
    // Sets the line's rate and stop bits from the far side, as another program would.
    void SetSettings(std::uint32_t rate, bool twoStopBits);

    class Far;  // the platform part

private:
    std::unique_ptr<Far> far_;
    std::string portName_;
    std::string deviceName_;
    int portNumber_ = -1;
};

}  // namespace tallyport::test
