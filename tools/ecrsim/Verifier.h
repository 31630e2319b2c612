#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ecrsim/ExpectedLine.h"

namespace tallyport::ecrsim {

// What one output file must have received during the run: the lines appended after
// `startOffset` (the file's size when the run began), register by register in order.
// Every register that writes to the file has an entry, possibly empty.
struct OutputExpectation {
    std::string path;
    std::uintmax_t startOffset = 0;
    std::map<int, std::vector<ExpectedLine>> byRegister;
};

struct VerifyResult {
    bool ok = true;
    std::size_t expected = 0;         // required lines
    std::size_t found = 0;            // lines appended during the run
    std::size_t matched = 0;          // lines that met their expectation
    std::size_t optionalMissing = 0;  // lines sold before a possible restart, not written
    std::vector<std::string> differences;
};

// Compares the lines appended to one file with what was expected of it. Per register the
// lines must come in the expected order; between registers any interleaving is fine. Each
// difference is named: a line missing, doubled, out of order, wrong (with the fields that
// differ) or not expected at all, and a last line without its CR LF.
VerifyResult VerifyOutput(const OutputExpectation& expectation);

// The part of a file after `offset` as CR LF lines; a last piece without its line end is
// returned in `unterminated`. A missing file reads as empty.
struct AppendedLines {
    bool exists = false;
    bool shorter = false;  // the file is now shorter than `offset`
    std::size_t firstLineNumber = 1;
    std::vector<std::string> lines;
    std::vector<bool> bareLf;  // the line ended with LF alone
    std::string unterminated;
};
AppendedLines ReadAppendedLines(const std::string& path, std::uintmax_t offset);

// The size of a file now, 0 when it does not exist.
std::uintmax_t FileSizeOrZero(const std::string& path);

}  // namespace tallyport::ecrsim
