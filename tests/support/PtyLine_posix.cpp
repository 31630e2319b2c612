#include <gtest/gtest.h>

#include <cstring>
#include <exception>

#include "support/PtyFarEnd.h"
#include "support/PtyLine.h"

namespace tallyport::test {

// On Linux the test holds the far side itself.
class PtyLine::Far : public PtyFarEnd {};

PtyLine::PtyLine() {
    try {
        far_ = std::make_unique<Far>();
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return;
    }
    portName_ = far_->SlavePath();
    deviceName_ = portName_;
    portNumber_ = -1;
}

PtyLine::~PtyLine() = default;

void PtyLine::Send(std::string_view bytes) {
    if (int error = far_ ? far_->Send(bytes) : EIO; error != 0)
        ADD_FAILURE() << "write to the master: " << strerror(error);
}

std::string PtyLine::Receive(std::size_t count, std::chrono::milliseconds within) {
    return far_ ? far_->Receive(count, within) : std::string();
}

int PtyLine::PortQueued() {
    return far_ ? far_->Queued() : -1;
}

bool PtyLine::SendQueued(std::string_view bytes, std::chrono::milliseconds within) {
    return far_ && far_->SendQueued(bytes, within) == 0;
}

void PtyLine::HangUp() {
    if (far_)
        far_->HangUp();
}

std::optional<FarSettings> PtyLine::Settings() {
    FarSettings settings;
    if (int error = far_ ? far_->Settings(settings) : EIO; error != 0) {
        ADD_FAILURE() << "reading the line's settings: " << strerror(error);
        return std::nullopt;
    }
    return settings;
}

void PtyLine::SetSettings(std::uint32_t rate, bool twoStopBits) {
    if (int error = far_ ? far_->SetSettings(rate, twoStopBits) : EIO; error != 0)
        ADD_FAILURE() << "setting the line: " << strerror(error);
}

}  // namespace tallyport::test
