// The test line of a Windows test program under Wine: a pseudo-terminal pair held by the line
// host (tests/support/LineHost.cpp), reached over a loopback TCP connection and opened as the
// COM port the host mapped it to.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off: winsock2.h comes before anything that brings windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/LineHostProtocol.h"
#include "support/PtyLine.h"

namespace tallyport::test {

namespace lh = linehost;

namespace {

struct Reply {
    bool delivered = false;  // false: the connection failed (already a test failure)
    std::int32_t status = 0;
    std::uint32_t value = 0;
    std::string bytes;
};

bool SendAll(SOCKET s, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceiveAll(SOCKET s, char* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const int n = recv(s, buffer + done, static_cast<int>(count - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void StartWinsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            ADD_FAILURE() << "WSAStartup failed";
    });
}

}  // namespace

// A connection to the line host, which holds this line's pair.
class PtyLine::Far {
public:
    Far() {
        StartWinsock();
        const char* port = std::getenv(lh::kPortVariable);
        if (port == nullptr || *port == '\0') {
            ADD_FAILURE() << "no line host: run the test program under tallyport-line-host "
                             "(ctest does)";
            return;
        }
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (socket_ == INVALID_SOCKET ||
            connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ADD_FAILURE() << "connecting to the line host: " << WSAGetLastError();
            Close();
            return;
        }
        BOOL on = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
    }
    ~Far() { Close(); }
    Far(const Far&) = delete;
    Far& operator=(const Far&) = delete;

    bool Connected() const { return socket_ != INVALID_SOCKET; }

    // One request and its reply.
    Reply Call(lh::Op op, std::uint32_t a = 0, std::uint32_t b = 0, const std::string& bytes = {}) {
        std::lock_guard guard(mutex_);
        Reply reply;
        char header[lh::kReplyHeader];
        if (!Connected() || !SendAll(socket_, lh::EncodeRequest(op, a, b, bytes)) ||
            !ReceiveAll(socket_, header, sizeof header)) {
            ADD_FAILURE() << "the line host did not answer";
            return reply;
        }
        reply.status = static_cast<std::int32_t>(lh::GetU32(header));
        reply.value = lh::GetU32(header + 4);
        reply.bytes.resize(lh::GetU32(header + 8));
        if (!ReceiveAll(socket_, reply.bytes.data(), reply.bytes.size())) {
            ADD_FAILURE() << "the line host's answer broke off";
            return reply;
        }
        reply.delivered = true;
        return reply;
    }

    // The call's outcome; a refusal is a test failure.
    bool Expect(const Reply& reply, const char* what) {
        if (reply.delivered && reply.status != 0)
            ADD_FAILURE() << what << ": Linux errno " << reply.status << " " << reply.bytes;
        return reply.delivered && reply.status == 0;
    }

private:
    void Close() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

    std::mutex mutex_;
    SOCKET socket_ = INVALID_SOCKET;
};

PtyLine::PtyLine() : far_(std::make_unique<Far>()) {
    if (!far_->Connected())
        return;
    const Reply opened = far_->Call(lh::Op::Open);
    if (!far_->Expect(opened, "making a line"))
        return;
    const int number = static_cast<int>(opened.value);
    portName_ = "COM" + std::to_string(number);
    deviceName_ = "\\\\.\\COM" + std::to_string(number);
    portNumber_ = number - 1;
}

PtyLine::~PtyLine() = default;

void PtyLine::Send(std::string_view bytes) {
    far_->Expect(far_->Call(lh::Op::Send, 0, 0, std::string(bytes)), "sending on the line");
}

std::string PtyLine::Receive(std::size_t count, std::chrono::milliseconds within) {
    const Reply reply = far_->Call(lh::Op::Receive, static_cast<std::uint32_t>(count),
                                   static_cast<std::uint32_t>(within.count()));
    return far_->Expect(reply, "receiving on the line") ? reply.bytes : std::string();
}

int PtyLine::PortQueued() {
    const Reply reply = far_->Call(lh::Op::Queued);
    return reply.delivered && reply.status == 0 ? static_cast<int>(reply.value) : -1;
}

bool PtyLine::SendQueued(std::string_view bytes, std::chrono::milliseconds within) {
    const Reply reply = far_->Call(lh::Op::SendQueued, 0,
                                   static_cast<std::uint32_t>(within.count()), std::string(bytes));
    return reply.delivered && reply.status == 0;
}

void PtyLine::HangUp() {
    far_->Expect(far_->Call(lh::Op::HangUp), "hanging the line up");
}

std::optional<FarSettings> PtyLine::Settings() {
    const Reply reply = far_->Call(lh::Op::Settings);
    if (!far_->Expect(reply, "reading the line's settings") || reply.bytes.size() != 4)
        return std::nullopt;
    const std::uint32_t bits = lh::GetU32(reply.bytes.data());
    return FarSettings{.rate = reply.value,
                       .twoStopBits = (bits & lh::kTwoStopBits) != 0,
                       .raw = (bits & lh::kRaw) != 0,
                       .rtsCts = (bits & lh::kRtsCts) != 0,
                       .xonOutput = (bits & lh::kXonOutput) != 0,
                       .xonInput = (bits & lh::kXonInput) != 0,
                       .parityCheck = (bits & lh::kParityCheck) != 0};
}

void PtyLine::SetSettings(std::uint32_t rate, bool twoStopBits) {
    far_->Expect(far_->Call(lh::Op::SetSettings, rate, twoStopBits ? 1 : 0), "setting the line");
}

}  // namespace tallyport::test
