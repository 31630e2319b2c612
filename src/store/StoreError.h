#pragma once

#include <stdexcept>
#include <string>

namespace tallyport {

// The one error the stores raise; what() is the system's message text, "%s" already filled in.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tallyport
