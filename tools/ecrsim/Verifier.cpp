#include "ecrsim/Verifier.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace tallyport::ecrsim {

namespace {

constexpr std::size_t kMaxAlignmentCells = 16'000'000;

struct FoundLine {
    std::string text;
    std::size_t lineNumber = 0;
};

enum class Op { Match, Skip, Missing, Extra };

struct Step {
    Op op;
    std::size_t expected;  // index, for Match, Skip and Missing
    std::size_t found;     // index, for Match and Extra
};

// Greedy walk: enough when nothing is wrong, which is the usual case.
bool GreedyAlign(const std::vector<ExpectedLine>& expected, const std::vector<FoundLine>& found,
                 std::vector<Step>& steps) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (j < found.size()) {
        if (i < expected.size() && expected[i].Matches(found[j].text)) {
            steps.push_back({Op::Match, i++, j++});
        } else if (i < expected.size() && expected[i].IsOptional()) {
            steps.push_back({Op::Skip, i++, 0});
        } else {
            return false;
        }
    }
    for (; i < expected.size(); ++i) {
        if (!expected[i].IsOptional()) {
            return false;
        }
        steps.push_back({Op::Skip, i, 0});
    }
    return true;
}

// The alignment with the fewest missing and extra lines (optional lines may be skipped free).
std::vector<Step> BestAlign(const std::vector<ExpectedLine>& expected,
                            const std::vector<FoundLine>& found) {
    const std::size_t n = expected.size();
    const std::size_t m = found.size();
    std::vector<std::uint32_t> cost((n + 1) * (m + 1));
    std::vector<char> match(n * m);
    auto at = [m](std::size_t i, std::size_t j) { return i * (m + 1) + j; };
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < m; ++j) {
            match[i * m + j] = expected[i].Matches(found[j].text) ? 1 : 0;
        }
    }
    for (std::size_t j = 0; j <= m; ++j) {
        cost[at(n, j)] = static_cast<std::uint32_t>(m - j);
    }
    for (std::size_t i = n; i-- > 0;) {
        const std::uint32_t skip = expected[i].IsOptional() ? 0 : 1;
        cost[at(i, m)] = cost[at(i + 1, m)] + skip;
        for (std::size_t j = m; j-- > 0;) {
            std::uint32_t best = std::min(cost[at(i + 1, j)] + skip, cost[at(i, j + 1)] + 1);
            if (match[i * m + j]) {
                best = std::min(best, cost[at(i + 1, j + 1)]);
            }
            cost[at(i, j)] = best;
        }
    }
    std::vector<Step> steps;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n || j < m) {
        const std::uint32_t here = cost[at(i, j)];
        if (i < n && j < m && match[i * m + j] && cost[at(i + 1, j + 1)] == here) {
            steps.push_back({Op::Match, i++, j++});
        } else if (i < n && cost[at(i + 1, j)] + (expected[i].IsOptional() ? 0 : 1) == here) {
            steps.push_back({expected[i].IsOptional() ? Op::Skip : Op::Missing, i++, 0});
        } else {
            steps.push_back({Op::Extra, 0, j++});
        }
    }
    return steps;
}

std::string Where(const ExpectedLine& line) {
    return line.OriginText().empty() ? std::string() : " (" + line.OriginText() + ")";
}

std::string FieldList(const ExpectedLine& line, const std::vector<std::size_t>& fields) {
    std::string text;
    for (std::size_t f : fields) {
        text += (text.empty() ? "" : ", ") + std::string(FieldName(line.Kind(), f));
    }
    return text;
}

// Turns the steps of one register into named differences.
void Report(const std::string& label, const std::vector<ExpectedLine>& expected,
            const std::vector<FoundLine>& found, const std::vector<Step>& steps,
            VerifyResult& result) {
    std::vector<std::size_t> missing;
    std::vector<std::size_t> extra;
    std::vector<bool> extraUsed;
    for (const Step& s : steps) {
        if (s.op == Op::Match) {
            ++result.matched;
        } else if (s.op == Op::Skip) {
            ++result.optionalMissing;
        } else if (s.op == Op::Missing) {
            missing.push_back(s.expected);
        } else {
            extra.push_back(s.found);
        }
    }
    extraUsed.assign(extra.size(), false);
    auto line = [&](std::size_t j) {
        return "line " + std::to_string(found[j].lineNumber) + ": " + found[j].text;
    };
    // Doubled: a line equal to the one before it in the file that was matched.
    std::vector<std::size_t> previousMatched(found.size(), std::numeric_limits<std::size_t>::max());
    for (const Step& s : steps) {
        if (s.op == Op::Match) {
            previousMatched[s.found] = s.expected;
        }
    }
    for (std::size_t k = 0; k < extra.size(); ++k) {
        const std::size_t j = extra[k];
        for (std::size_t back = j; back-- > 0;) {
            if (previousMatched[back] != std::numeric_limits<std::size_t>::max()) {
                if (found[back].text == found[j].text) {
                    result.differences.push_back(label + ": line doubled, " + line(j));
                    extraUsed[k] = true;
                }
                break;
            }
        }
    }
    for (std::size_t i : missing) {
        const ExpectedLine& e = expected[i];
        // Out of order: the line is there, but where another was expected.
        bool reported = false;
        for (std::size_t k = 0; k < extra.size() && !reported; ++k) {
            if (!extraUsed[k] && e.Matches(found[extra[k]].text)) {
                result.differences.push_back(label + ": line out of order" + Where(e) + ", " +
                                             line(extra[k]));
                extraUsed[k] = true;
                reported = true;
            }
        }
        // Wrong: the nearest unused extra line of the same kind with few differing fields.
        for (std::size_t k = 0; k < extra.size() && !reported; ++k) {
            if (extraUsed[k]) {
                continue;
            }
            const auto differing = e.DifferingFields(found[extra[k]].text);
            if (!differing.empty() && differing.front() != 0 && differing.size() <= 4) {
                result.differences.push_back(
                    label + ": line wrong" + Where(e) + " in " + FieldList(e, differing) +
                    "\n    expected: " + e.Describe() + "\n    found:    " + line(extra[k]));
                extraUsed[k] = true;
                reported = true;
            }
        }
        if (!reported) {
            result.differences.push_back(label + ": line missing" + Where(e) + ": " + e.Describe());
        }
    }
    for (std::size_t k = 0; k < extra.size(); ++k) {
        if (!extraUsed[k]) {
            result.differences.push_back(label + ": line not expected, " + line(extra[k]));
        }
    }
}

}  // namespace

std::uintmax_t FileSizeOrZero(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

AppendedLines ReadAppendedLines(const std::string& path, std::uintmax_t offset) {
    AppendedLines out;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return out;
    }
    out.exists = true;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string all = buffer.str();
    if (all.size() < offset) {
        out.shorter = true;
        return out;
    }
    out.firstLineNumber =
        1 + static_cast<std::size_t>(std::count(all.begin(), all.begin() + offset, '\n'));
    std::string_view rest(all);
    rest.remove_prefix(offset);
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        if (lf == std::string_view::npos) {
            out.unterminated = std::string(rest);
            break;
        }
        std::string_view line = rest.substr(0, lf);
        const bool bare = line.empty() || line.back() != '\r';
        if (!bare) {
            line.remove_suffix(1);
        }
        out.lines.emplace_back(line);
        out.bareLf.push_back(bare);
        rest.remove_prefix(lf + 1);
    }
    return out;
}

VerifyResult VerifyOutput(const OutputExpectation& expectation) {
    VerifyResult result;
    const std::string name = std::filesystem::path(expectation.path).filename().string();
    for (const auto& [reg, lines] : expectation.byRegister) {
        for (const ExpectedLine& e : lines) {
            result.expected += e.IsOptional() ? 0 : 1;
        }
    }
    const AppendedLines appended = ReadAppendedLines(expectation.path, expectation.startOffset);
    if (appended.shorter) {
        result.ok = false;
        result.differences.push_back(name + ": the file is shorter than when the run began");
        return result;
    }
    if (!appended.exists && result.expected > 0) {
        result.ok = false;
        result.differences.push_back(name + ": the file does not exist (" + expectation.path + ")");
        return result;
    }
    result.found = appended.lines.size();
    std::map<int, std::vector<FoundLine>> byRegister;
    for (std::size_t k = 0; k < appended.lines.size(); ++k) {
        const std::string& text = appended.lines[k];
        const std::size_t number = appended.firstLineNumber + k;
        if (appended.bareLf[k]) {
            result.differences.push_back(name + ": line " + std::to_string(number) +
                                         " ends without CR: " + text);
        }
        const std::string_view head = SplitFields(text).front();
        const bool digits = head.size() == 4 && std::all_of(head.begin(), head.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        const int reg = digits ? std::stoi(std::string(head)) : -1;
        if (!digits || expectation.byRegister.count(reg) == 0) {
            result.differences.push_back(name + ": line " + std::to_string(number) +
                                         " is not from a register of this run: " + text);
            continue;
        }
        byRegister[reg].push_back(FoundLine{text, number});
    }
    if (!appended.unterminated.empty()) {
        result.differences.push_back(name +
                                     ": the last line has no line end: " + appended.unterminated);
    }
    for (const auto& [reg, expected] : expectation.byRegister) {
        const std::vector<FoundLine>& found = byRegister[reg];
        const std::string label = name + ", register " + std::to_string(reg);
        std::vector<Step> steps;
        if (!GreedyAlign(expected, found, steps)) {
            if ((expected.size() + 1) * (found.size() + 1) > kMaxAlignmentCells) {
                result.differences.push_back(
                    label + ": " + std::to_string(found.size()) + " lines differ from the " +
                    std::to_string(expected.size()) + " expected (too many to align line by line)");
                continue;
            }
            steps = BestAlign(expected, found);
        }
        Report(label, expected, found, steps, result);
    }
    result.ok = result.differences.empty();
    return result;
}

}  // namespace tallyport::ecrsim
