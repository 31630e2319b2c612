#include <sys/stat.h>

#include "control/FileKind.h"

namespace tallyport {

bool IsFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace tallyport
