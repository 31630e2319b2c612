#pragma once

#include <stdexcept>
#include <string>

namespace tallyport {

// The one error the stores raise; what() is the system's message text, "%s" already filled in.
// Where the platform refused, Reason() is its error code (errno), so that the shell can say why;
// 0 otherwise.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const std::string& message, int reason = 0)
        : std::runtime_error(message), reason_(reason) {}
    explicit StoreError(const char* message, int reason = 0)
        : std::runtime_error(message), reason_(reason) {}

    int Reason() const { return reason_; }

private:
    int reason_;
};

}  // namespace tallyport
