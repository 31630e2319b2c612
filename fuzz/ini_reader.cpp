// Treats the input as the bytes of a configuration file: reads keys from it, changes one key in
// memory and in a file, and loads and saves the settings, checking what must always hold.

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DecimalSeparator.h"
#include "base/NumberText.h"
#include "store/AppSettings.h"
#include "store/FileBytes.h"
#include "store/IniProfile.h"

using namespace tallyport;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Name {
    std::string_view section;
    std::string_view key;
};

// The twelve settings, and a few names a hand-edited file may hold.
const Name kNames[] = {
    {"Files", "PLU"},           {"Files", "ReceiptMaster"},
    {"Files", "ReceiptDetail"}, {"Files", "Backup"},
    {"Files", "ECRList"},       {"CardOptions", "Min"},
    {"CardOptions", "Max"},     {"Scale", "Prefix"},
    {"Options", "RecDiscount"}, {"Options", "RecAmount"},
    {"Options", "RecSepFiles"}, {"Options", "RecDecimals"},
    {"files", "plu"},           {"Other", "Key"},
    {"Files", "Extra"},         {"A", "a"},
};

const std::string_view kValues[] = {
    "new", "", "C:\\BO\\Bon.txt", "x=y;[z]", "  padded\t", "\xE3\xBA\xEE", "0x1A", "2,5",
};

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trimmed(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    return value;
}

// What a read of a written value must give: cut to the limit, without surrounding blanks.
std::string AsRead(std::string_view value) {
    return std::string(Trimmed(Trimmed(value).substr(0, kProfileValueMax)));
}

struct TextLine {
    std::string_view content;
    std::string_view end;  // "\r\n", "\n", "\r" or "" for an unended last line
};

std::vector<TextLine> SplitLines(std::string_view text) {
    std::vector<TextLine> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t stop = text.find_first_of("\r\n", at);
        if (stop == std::string_view::npos) {
            lines.push_back({text.substr(at), {}});
            break;
        }
        std::size_t next = stop + 1;
        if (text[stop] == '\r' && next < text.size() && text[next] == '\n') {
            ++next;
        }
        lines.push_back({text.substr(at, stop - at), text.substr(stop, next - stop)});
        at = next;
    }
    return lines;
}

// Kept lines: the same content and line end, except that an unended last line may gain "\r\n".
bool Kept(const TextLine& before, const TextLine& after) {
    return before.content == after.content &&
           (before.end == after.end || (before.end.empty() && after.end == "\r\n"));
}

// A write changes one entry line, or adds one entry line, or adds a section with its entry; every
// other line stays as it was.
void CheckOnlyTheEntryChanged(std::string_view before, std::string_view after, const Name& name,
                              std::string_view value) {
    std::vector<TextLine> old = SplitLines(before);
    std::vector<TextLine> now = SplitLines(after);
    std::size_t head = 0;
    while (head < old.size() && head < now.size() && Kept(old[head], now[head])) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < old.size() - head && tail < now.size() - head &&
           Kept(old[old.size() - 1 - tail], now[now.size() - 1 - tail])) {
        ++tail;
    }
    std::size_t removed = old.size() - head - tail;
    std::size_t added = now.size() - head - tail;
    std::string entry = std::string(name.key) + "=" + std::string(value);

    if (removed == 1) {
        Check(added == 1, "a changed entry stays one line");
        std::string_view was = old[head].content;
        std::string_view is = now[head].content;
        std::size_t equals = was.find('=');
        Check(equals != std::string_view::npos, "only an entry line is changed");
        Check(is.substr(0, equals + 1) == was.substr(0, equals + 1), "the key is kept as spelled");
        Check(is.size() >= value.size() && is.substr(is.size() - value.size()) == value,
              "the line ends with the new value");
        Check(now[head].end == old[head].end, "the line end is kept");
    } else {
        Check(removed == 0, "no line is lost");
        if (added == 1) {
            Check(now[head].content == entry && now[head].end == "\r\n", "an added entry line");
        } else if (added == 2) {
            Check(now[head].content == "[" + std::string(name.section) + "]" &&
                      now[head].end == "\r\n",
                  "an added section header");
            Check(now[head + 1].content == entry && now[head + 1].end == "\r\n",
                  "the entry of an added section");
            Check(head + 2 == now.size(), "a new section goes at the end");
        } else {
            Check(added == 0 && before == after, "nothing else is added");
        }
    }
}

void CheckValueShape(const std::optional<std::string>& value) {
    if (!value) {
        return;
    }
    Check(value->size() <= kProfileValueMax, "a value is cut to the limit");
    Check(value->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
          "a value holds no line break or NUL");
    Check(Trimmed(*value) == *value, "a value has no surrounding blanks");
}

// A folder for one input, in memory where possible so that the syncs cost little; removed when
// the input is done (left behind only when an invariant breaks).
class WorkFolder {
public:
    WorkFolder() {
        path_ = access("/dev/shm", W_OK) == 0 ? "/dev/shm/ini-fuzz-XXXXXX" : "/tmp/ini-fuzz-XXXXXX";
        Check(mkdtemp(path_.data()) != nullptr, "a working folder");
    }
    ~WorkFolder() {
        unlink(File().c_str());
        rmdir(path_.c_str());
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File() const { return path_ + "/config.ini"; }

private:
    std::string path_;
};

std::size_t EntriesIn(const WorkFolder& folder) {
    std::size_t count = 0;
    DIR* dir = opendir(folder.Path().c_str());
    Check(dir != nullptr, "the working folder opens");
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        count += (name != "." && name != "..") ? 1 : 0;
    }
    closedir(dir);
    return count;
}

void PutFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(out.good(), "the input file is written");
}

std::string FileBytes(const std::string& path) {
    std::optional<std::string> bytes = ReadFileBytes(path);
    Check(bytes.has_value(), "the file exists");
    return *bytes;
}

void CheckSameSettings(const AppSettingsRecord& a, const AppSettingsRecord& b, char separator) {
    Check(a.PLU == b.PLU && a.ReceiptMaster == b.ReceiptMaster &&
              a.ReceiptDetail == b.ReceiptDetail && a.Backup == b.Backup && a.ECRList == b.ECRList,
          "texts survive a save and a load");
    Check(a.Prefix == b.Prefix, "the prefix survives a save and a load");
    Check(a.RecDiscount == b.RecDiscount && a.RecAmount == b.RecAmount &&
              a.RecSepFiles == b.RecSepFiles && a.RecDecimals == b.RecDecimals,
          "the options survive a save and a load");
    // A limit is written with 15 digits; one whose rounding passes the largest double reads
    // back as out of range, and so as the default.
    auto reread = [separator](double value, double fallback) {
        std::optional<double> parsed = ParseDouble(FormatGeneral(value, separator), separator);
        return FormatGeneral(parsed.value_or(fallback), separator);
    };
    Check(reread(a.Min, 0) == FormatGeneral(b.Min, separator) &&
              reread(a.Max, 100000000) == FormatGeneral(b.Max, separator),
          "the card limits survive a save and a load");
}

void CheckSavedValues(const std::string& text, const AppSettingsRecord& s, char separator) {
    auto holds = [&](std::string_view section, std::string_view key, const std::string& value) {
        return FindProfileValue(text, section, key) == AsRead(value);
    };
    Check(holds("Files", "PLU", s.PLU) && holds("Files", "ReceiptMaster", s.ReceiptMaster) &&
              holds("Files", "ReceiptDetail", s.ReceiptDetail) &&
              holds("Files", "Backup", s.Backup) && holds("Files", "ECRList", s.ECRList),
          "the saved file holds the texts");
    Check(holds("CardOptions", "Min", FormatGeneral(s.Min, separator)) &&
              holds("CardOptions", "Max", FormatGeneral(s.Max, separator)) &&
              holds("Scale", "Prefix", std::to_string(s.Prefix)),
          "the saved file holds the numbers");
    Check(holds("Options", "RecDiscount", s.RecDiscount ? "1" : "0") &&
              holds("Options", "RecAmount", s.RecAmount ? "1" : "0") &&
              holds("Options", "RecSepFiles", s.RecSepFiles ? "1" : "0") &&
              holds("Options", "RecDecimals", s.RecDecimals ? "1" : "0"),
          "the saved file holds the options");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];
    constexpr std::size_t kValueCount = sizeof kValues / sizeof kValues[0];

    // Reads in memory.
    std::optional<std::string> before[kNameCount];
    for (std::size_t i = 0; i < kNameCount; ++i) {
        before[i] = FindProfileValue(text, kNames[i].section, kNames[i].key);
        CheckValueShape(before[i]);
    }

    // One key written in memory: read back, and every other line and key unchanged.
    const Name& target = kNames[size % kNameCount];
    std::string value(kValues[(size / kNameCount) % kValueCount]);
    if (size % 7 == 3) {
        value.assign(kProfileValueMax - 1, 'v').append("  cut here");
    }
    std::string changed = WithProfileValue(text, target.section, target.key, value);
    Check(FindProfileValue(changed, target.section, target.key) == AsRead(value),
          "a written value reads back");
    CheckOnlyTheEntryChanged(text, changed, target, value);
    for (std::size_t i = 0; i < kNameCount; ++i) {
        if (!(SameName(kNames[i].section, target.section) && SameName(kNames[i].key, target.key))) {
            Check(FindProfileValue(changed, kNames[i].section, kNames[i].key) == before[i],
                  "other keys keep their values");
        }
    }

    // The same write through a file gives the same bytes and leaves no temporary file.
    WorkFolder folder;
    const std::string path = folder.File();
    PutFile(path, text);
    WriteProfileString(path, target.section, target.key, value);
    Check(FileBytes(path) == changed, "the file holds what the write computed");
    Check(EntriesIn(folder) == 1, "no temporary file remains");

    // Load, save and load again give the same settings; the file holds every saved value.
    char separator = (size & 1) ? ',' : '.';
    SetRegionalDecimalSeparator(separator);
    PutFile(path, text);
    AppSettingsRecord loaded;
    Check(!LoadConfig(path, loaded), "a readable file loads");
    Check(!SaveConfig(path, loaded), "loaded settings save");
    CheckSavedValues(FileBytes(path), loaded, separator);
    AppSettingsRecord reloaded;
    Check(!LoadConfig(path, reloaded), "a saved file loads");
    CheckSameSettings(loaded, reloaded, separator);
    Check(EntriesIn(folder) == 1, "no temporary file remains after saving");
    return 0;
}
