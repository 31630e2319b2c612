// Any bytes as one register's journal file: the program reads it at start-up and completes the
// closings it finds into the back-office files. Never a crash, and never a line in those files
// that no closing record of the input holds.
//
// The first byte chooses how the rest is read: even, as the file's bytes; odd, as record
// bodies one a line, each given its right checksum (random bytes almost never carry one), with
// every closing's file names set to this folder's two files.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/NoticeSink.h"
#include "journal/JournalRecords.h"
#include "journal/ReceiptJournal.h"
#include "requests/Journalling.h"
#include "requests/RequestContext.h"

namespace {

using namespace tallyport;

constexpr char kBon[] = "Bon.txt";
constexpr char kTran[] = "Tran.txt";
constexpr char kJournal[] = "journal";

class NoNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A folder of this process, made its working folder (the files' relative names land there)
// and removed when the process ends.
class OwnFolder {
public:
    OwnFolder() {
        const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        path_ = std::string(base) + "/tallyport-fuzz-XXXXXX";
        Check(::mkdtemp(path_.data()) != nullptr);
        Check(::chdir(path_.c_str()) == 0);
    }
    ~OwnFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::string path_;
};

void EnterOwnFolder() {
    static const OwnFolder folder;
}

std::string WithChecksums(const std::string& bodies) {
    std::string out;
    std::size_t pos = 0;
    while (pos < bodies.size()) {
        std::size_t end = bodies.find('\n', pos);
        if (end == std::string::npos) {
            end = bodies.size();
        }
        std::string body = bodies.substr(pos, end - pos);
        pos = end + 1;
        if (body.empty()) {
            continue;
        }
        if (body[0] == 'C') {
            // Fields 2 and 3 (after the sequence number) are the closing's two files.
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (std::size_t tab; (tab = body.find('\t', start)) != std::string::npos;
                 start = tab + 1) {
                parts.push_back(body.substr(start, tab - start));
            }
            parts.push_back(body.substr(start));
            if (parts.size() > 3) {
                parts[2] = kBon;
                parts[3] = kTran;
            }
            body.clear();
            for (std::size_t i = 0; i < parts.size(); ++i) {
                body += (i ? "\t" : "") + parts[i];
            }
        }
        char crc[10];
        std::snprintf(crc, sizeof crc, "%08X ", Crc32(body));
        out += crc + body + "\n";
    }
    return out;
}

// Every line that a closing record of the file holds.
std::set<std::string> HeldLines(const std::string& file) {
    std::set<std::string> held;
    std::size_t pos = 0;
    while (pos < file.size()) {
        std::size_t end = file.find('\n', pos);
        if (end == std::string::npos) {
            break;
        }
        const auto record = DecodeRecord(std::string_view(file).substr(pos, end - pos));
        if (record && record->kind == 'C' && record->fields.size() > 6) {
            held.insert(record->fields.begin() + 6, record->fields.end());
        }
        pos = end + 1;
    }
    return held;
}

std::string ReadAll(const char* path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path, "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
            bytes.append(buffer, n);
        }
        std::fclose(f);
    }
    return bytes;
}

// Each CR LF line of an output file is one that a record held; nothing after the last one.
void CheckOutput(const char* path, const std::set<std::string>& held) {
    const std::string bytes = ReadAll(path);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        Check(end != std::string::npos);
        Check(held.count(bytes.substr(pos, end - pos)) == 1);
        pos = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EnterOwnFolder();
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string file = (data[0] & 1) ? WithChecksums(rest) : rest;

    std::error_code ignored;
    std::filesystem::remove_all(kJournal, ignored);
    std::filesystem::remove(kBon, ignored);
    std::filesystem::remove(kTran, ignored);
    std::filesystem::create_directory(kJournal);
    if (std::FILE* f = std::fopen("journal/ECR3.txt", "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    NoNotices notices;
    RequestContext context;
    {
        ReceiptJournal journal(kJournal, notices);
        ReceiptJournal::Loaded loaded = journal.Load();
        // Only closings into this folder's two files are completed: a raw input may name any
        // path, and the fuzzer must not write outside its folder.
        for (const auto& [reg, state] : loaded.registers) {
            for (const RegisterJournal* s = &state; s != nullptr; s = s->before.get()) {
                if (s->open && (s->open->bonPath != kBon || s->open->tranPath != kTran)) {
                    return 0;
                }
            }
        }
        context.UseJournal(&journal);
        RestoreFromJournal(loaded, {}, context, notices);
        context.UseJournal(nullptr);
    }
    const std::set<std::string> held = HeldLines(file);
    CheckOutput(kBon, held);
    CheckOutput(kTran, held);
    return 0;
}
