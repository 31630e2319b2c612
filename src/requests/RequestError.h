#pragma once

#include <stdexcept>
#include <string>

namespace tallyport {

// Ends the handling of one message: a field that must be a number and is not, or an output file
// that could not be written. The link worker catches it and goes on serving its register.
class RequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tallyport
