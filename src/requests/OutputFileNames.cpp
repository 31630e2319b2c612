#include "requests/OutputFileNames.h"

namespace tallyport {

std::string_view FileExtension(std::string_view name) {
    const auto separator = name.find_last_of("/\\:");
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
        return {};
    }
    return name.substr(dot);
}

std::string PerRegisterFileName(std::string_view name, int logicalNb) {
    std::string result(name);
    result += std::to_string(logicalNb);
    result += FileExtension(name);
    return result;
}

}  // namespace tallyport
