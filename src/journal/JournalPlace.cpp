#include "journal/JournalPlace.h"

#include "base/FileIo.h"
#include "base/FileReplace.h"
#include "base/Paths.h"
#include "journal/JournalFiles.h"

namespace tallyport {

std::string JournalPointerBeside(const std::string& configPath) {
    return FolderOf(configPath) + "/Tallyport.journal-folder";
}

std::string RememberedJournalFolder(const std::string& pointerPath) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(pointerPath, bytes, error)) {
        return {};
    }
    const std::size_t end = bytes.find_first_of("\r\n");
    return bytes.substr(0, end);
}

bool RememberJournalFolder(const std::string& pointerPath, const std::string& folder,
                           std::string& error) {
    if (RememberedJournalFolder(pointerPath) == folder) {
        return true;  // nothing to write: the configuration's folder may well be read-only
    }
    const ReplaceOutcome outcome = ReplaceFile(pointerPath, folder + "\n");
    if (!outcome.Ok()) {
        error = "Cannot write file " + pointerPath + ": " + ErrorText(outcome.error);
        return false;
    }
    return true;
}

std::string AbsoluteFolder(const std::string& folder) {
    return CanonicalPath(folder);
}

}  // namespace tallyport
