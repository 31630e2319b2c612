#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TempFolder.h"

namespace tallyport::testing {

// The bytes of a file the test expects to be there.
inline std::string ReadExistingFile(const std::string& path) {
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    return test::ReadFile(path);
}

}  // namespace tallyport::testing
