#include "app/OutputFileNames.h"

namespace tallyport {

std::string_view FileExtension(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\:");
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    if (separator != std::string_view::npos && dot < separator) {
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
