#pragma once

#include <string>

#include "simulator/LineRate.h"
#include "simulator/PtyPair.h"

namespace tallyport::sim {

// A real serial port on the register's side of a real line: a second adapter joined to the
// program's port by a null-modem cable. Opened non-blocking and for exclusive use, raw, at the
// line's rate and framing, without flow control. The wire itself then gives the bytes their
// time, so the simulator does not model it. Owned by one thread at a time.
class SerialDevice final : public LineEnd {
public:
    SerialDevice(std::string path, const LineRate& line);  // throws std::system_error
    ~SerialDevice() override;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    int Fd() const override { return fd_; }
    const std::string& PortName() const override { return path_; }
    bool ModelsLineTime() const override { return false; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace tallyport::sim
