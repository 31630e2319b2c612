#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "control/UsableFolder.h"

namespace tallyport {

bool UsableFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0755) == 0) {
        return true;
    }
    struct stat st {};
    return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace tallyport
