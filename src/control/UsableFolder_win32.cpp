#include <random>
#include <string>

#include "base/Paths.h"
#include "base/Win32File.h"
#include "control/UsableFolder.h"

namespace tallyport {

bool UsableFolder(const std::string& folder) {
    if (MakeFolders(folder) != 0) {
        return false;
    }
    // Whether this account may create files there is what a probe file shows: the folder's
    // access list, a read-only medium and a full disk all answer the same way.
    std::random_device random;
    const std::string probe =
        JoinPath(folder, ".tallyport-probe-" + std::to_string(random()) + ".tmp");
    win32::UniqueHandle file(win32::OpenFile(probe, GENERIC_WRITE, win32::kShareAll, CREATE_NEW,
                                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE));
    return file.Valid();
}

}  // namespace tallyport
