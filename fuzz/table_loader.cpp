// Loads arbitrary bytes as an article file and as a register list file. Errors are expected;
// crashes and sanitizer reports are not. Where a load succeeds, every key must be found again
// through its index, and saving and loading the rows again must give the same rows.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/NumberText.h"
#include "store/PluHolder.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"

namespace {

using namespace tallyport;

// A folder of this process for the input and output files, removed when the process ends.
class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/tallyport-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~Folder() {
        std::remove(File("in.txt").c_str());
        std::remove(File("out.txt").c_str());
        ::rmdir(path_.c_str());
    }
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

const Folder& TheFolder() {
    static const Folder folder;
    return folder;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
}

std::vector<std::string> Rows(CsvTable& table) {
    std::vector<std::string> rows;
    for (table.First(); !table.Eof(); table.Next()) {
        std::string row;
        for (std::size_t c = 0; c < table.Columns().size(); ++c) {
            row += table.IsNull(c) ? std::string("<null>") : table.AsText(c, '.');
            row += '\x1F';
        }
        rows.push_back(row);
    }
    return rows;
}

// A double whose 15-digit text lies beyond the largest double cannot be read back.
bool DoublesReadBack(CsvTable& table) {
    for (std::size_t c = 0; c < table.Columns().size(); ++c) {
        if (table.Columns()[c].type != ColumnType::Double) {
            continue;
        }
        for (table.First(); !table.Eof(); table.Next()) {
            if (!table.IsNull(c) && !ParseDouble(table.AsText(c, '.'), '.')) {
                return false;
            }
        }
    }
    return true;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Exercise(std::unique_ptr<CsvTable> (*make)(), const std::vector<std::size_t>& keyColumns,
              const std::string& input) {
    auto table = make();
    try {
        LoadTableFromFile(*table, input);
    } catch (const StoreError&) {
        return;
    }
    std::vector<std::string> rows = Rows(*table);
    Check(rows.size() == table->RowCount());
    for (std::size_t key : keyColumns) {
        for (std::size_t pos = 0; pos < table->RowCount(); ++pos) {
            table->MoveTo(pos);
            std::string value = table->AsText(key, '.');
            // The readers without a current row find the same row and read the same text.
            const std::optional<std::size_t> found = std::as_const(*table).Find(key, value);
            Check(found == pos);
            Check(table->TextAt(pos, key, '.') == value);
            Check(table->Locate(key, value));
            Check(table->Position() == pos);
        }
    }
    if (!DoublesReadBack(*table)) {
        return;
    }
    const std::string output = TheFolder().File("out.txt");
    SaveTableToFile(*table, output);
    auto again = make();
    LoadTableFromFile(*again, output);
    Check(Rows(*again) == rows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = TheFolder().File("in.txt");
    WriteFile(input, data, size);
    Exercise(&MakeArticleTable, {kArtCodPLU}, input);
    Exercise(&MakeRegisterList, {kRegLogicalNb, kRegCommPort}, input);
    return 0;
}
