#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::test {

// A fresh folder of one test's own, made in the platform's temporary folder ($TMPDIR or /tmp;
// %TEMP%) and removed with everything in it when the object goes. Owned by the test that makes it;
// its accessors may be called from any thread while it lives.
class TempFolder {
public:
    TempFolder();  // throws std::system_error when no folder can be made
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path of `name` inside the folder.
    std::string File(const std::string& name) const;
    // The names in the folder, sorted.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path path_;
};

// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

// Replaces the file's content with `bytes`, creating it where needed; throws std::runtime_error
// when they cannot be written, so that a test never runs on a fixture that is not there.
void WriteFile(const std::string& path, std::string_view bytes);

// The file's bytes; "" when it cannot be opened (a file not written yet reads as empty).
std::string ReadFile(const std::string& path);

}  // namespace tallyport::test
