#include <windows.h>

#include "base/SystemError.h"
#include "base/Win32Text.h"

namespace tallyport {

std::string ErrorText(int error) {
    return win32::SystemErrorText(static_cast<unsigned long>(error));
}

int InvalidArgumentError() {
    return ERROR_INVALID_PARAMETER;
}

}  // namespace tallyport
