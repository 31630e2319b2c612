// The tool's model of what the program holds for an open receipt when kills cut exchanges. A
// model that is wrong here makes the check of the files report a correct program as faulty (a
// line "not expected") or pass one that lost a line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ecrsim/ProgramLines.h"

namespace tallyport::ecrsim {
namespace {

ToldLine Told(const std::string& name) {
    ToldLine line;
    line.origin = name;
    return line;
}

// The lines a closing would expect, as "name" or "name?" for an optional one.
std::vector<std::string> Expected(const ProgramLines& lines) {
    std::vector<std::string> out;
    for (const HeldLine& held : lines.Lines()) {
        out.push_back(held.line->origin + (held.optional ? "?" : ""));
    }
    return out;
}

using Names = std::vector<std::string>;

TEST(ProgramLines, WithoutKillsEveryLineAndVoidIsExact) {
    ProgramLines lines;
    for (const char* name : {"a", "b", "c"}) {
        lines.Add(Told(name), true);
    }
    lines.Void(true);
    lines.Add(Told("d"), true);
    EXPECT_EQ(Expected(lines), (Names{"a", "b", "d"}));
    EXPECT_EQ(lines.States(), 1u);

    lines.Clear();
    lines.Void(true);  // nothing held: nothing to take
    EXPECT_TRUE(Expected(lines).empty());
    lines.Add(Told("e"), true);
    EXPECT_EQ(Expected(lines), (Names{"e"}));
}

TEST(ProgramLines, VoidsAfterALineThatMayBeLostTakeEitherLine) {
    // Four lines kept; a fifth told in an exchange a kill cut; then two voids kept by the
    // restarted program. Held fifth line: the voids take it and the fourth. Lost fifth line:
    // they take the fourth and the third. So the third may be written, the fourth never is.
    ProgramLines lines;
    for (const char* name : {"a", "b", "c", "d"}) {
        lines.Add(Told(name), true);
    }
    lines.Add(Told("e"), false);
    EXPECT_EQ(Expected(lines), (Names{"a", "b", "c", "d", "e?"}));
    lines.Void(true);
    EXPECT_EQ(Expected(lines), (Names{"a", "b", "c", "d?"}));
    lines.Void(true);
    lines.Add(Told("f"), true);
    EXPECT_EQ(Expected(lines), (Names{"a", "b", "c?", "f"}));
    EXPECT_EQ(lines.States(), 2u);
}

TEST(ProgramLines, AVoidThatMayBeLostLeavesTheLineOptional) {
    ProgramLines lines;
    lines.Add(Told("a"), true);
    lines.Add(Told("b"), true);
    lines.Void(false);
    EXPECT_EQ(Expected(lines), (Names{"a", "b?"}));
    // The next void takes b where the first was lost, a where it was kept.
    lines.Void(true);
    EXPECT_EQ(Expected(lines), (Names{"a?"}));
    lines.Void(true);
    EXPECT_TRUE(Expected(lines).empty());
}

TEST(ProgramLines, ManyCutExchangesStayBoundedAndLoseNoLine) {
    ProgramLines lines;
    std::size_t most = 0;
    for (int k = 0; k < 40; ++k) {
        lines.Add(Told("l" + std::to_string(k)), k % 5 == 0);
        if (k % 2 == 0) {
            lines.Void(k % 4 == 0);
        }
        most = std::max(most, lines.States());
    }
    EXPECT_LE(most, 64u);
    lines.Add(Told("last"), true);
    const auto expected = lines.Lines();
    // Whatever the states: a line told after every void, and kept, is required; every line
    // still listed is listed once, in the order told.
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected.back().line->origin, "last");
    EXPECT_FALSE(expected.back().optional);
    for (std::size_t k = 1; k < expected.size(); ++k) {
        EXPECT_LT(expected[k - 1].line, expected[k].line);  // in the order told, once each
    }
}

}  // namespace
}  // namespace tallyport::ecrsim
