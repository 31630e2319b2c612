#pragma once

#include <vector>

#include "base/ProgramFolders.h"

namespace tallyport {

// The files an installed program's folder gets on its first start: a configuration file that
// explains every key and leaves them at their defaults, an empty register list and an empty
// article file, so that the program starts and its window can set the real names.
std::vector<FirstStartFile> FirstStartFiles();

}  // namespace tallyport
