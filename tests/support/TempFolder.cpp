#include "support/TempFolder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace tallyport::test {

TempFolder::TempFolder() {
    // The platform's temporary folder ($TMPDIR or /tmp, %TEMP%) and a name nobody has: made
    // only if it did not exist, so that no two tests share one.
    const std::filesystem::path root = std::filesystem::temp_directory_path();
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "tallyport-test-%08x", random());
        const std::filesystem::path candidate = root / name;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
        if (error) {
            break;
        }
    }
    throw std::system_error(error ? error : std::make_error_code(std::errc::file_exists),
                            "no temporary folder in " + root.string());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::File(const std::string& name) const {
    return (path_ / name).string();
}

std::vector<std::string> TempFolder::Names() const {
    return NamesIn(path_);
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tallyport::test
