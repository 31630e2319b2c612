#include <gtest/gtest.h>

#include <filesystem>

#include "TableTestSupport.h"
#include "base/DecimalSeparator.h"
#include "store/LineSplitter.h"
#include "support/RegionalSeparatorScope.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using testing::Dump;
using testing::ErrorOf;
using testing::MakeSixColumnTable;
using testing::OpenDescriptorCount;
using namespace std::string_literals;

// Loads `bytes` as a file into a fresh six-column table and returns its rows.
std::vector<std::string> LoadSix(const std::string& bytes) {
    TempFolder dir;
    WriteFile(dir.File("t.txt"), bytes);
    auto table = MakeSixColumnTable();
    LoadTableFromFile(*table, dir.File("t.txt"));
    return Dump(*table);
}

std::vector<std::string> SplitAll(const std::string& bytes, std::size_t chunk) {
    std::vector<std::string> lines;
    auto onLine = [&lines](const char* b, const char* e) { lines.emplace_back(b, e); };
    LineSplitter splitter;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        splitter.Feed(bytes.data() + at, std::min(chunk, bytes.size() - at), onLine);
    }
    splitter.Finish(onLine);
    return lines;
}

const std::vector<std::string> kTwoRows = {"0000000000123|1|1|12.5|2|APA",
                                           "0000000000124|2|9|3|0|PAINE"};

TEST(TableFileLines, EveryLineEndGivesTheSameRows) {
    const std::vector<std::string> files = {
        "0000000000123,1,1,12.5,2,APA\r\n0000000000124,2,9,3,0,PAINE\r\n",                // CR LF
        "0000000000123,1,1,12.5,2,APA\n0000000000124,2,9,3,0,PAINE\n",                    // LF
        "0000000000123,1,1,12.5,2,APA\r0000000000124,2,9,3,0,PAINE\r",                    // CR
        "0000000000123,1,1,12.5,2,APA\n\r0000000000124,2,9,3,0,PAINE\r\n",                // mixed
        "\r\n\n0000000000123,1,1,12.5,2,APA\r\n\r\n\n\r0000000000124,2,9,3,0,PAINE\n\n",  // blank
        "0000000000123,1,1,12.5,2,APA\0\0\r\n\0"s + "0000000000124,2,9,3,0,PAINE\0"s,     // NUL
        "0000000000123,1,1,12.5,2,APA\r\n0000000000124,2,9,3,0,PAINE",  // no end on last line
    };
    for (const std::string& file : files) {
        EXPECT_EQ(LoadSix(file), kTwoRows) << ::testing::PrintToString(file);
    }
}

TEST(TableFileLines, EmptyFilesAndFilesOfLineEndsLoadNoRow) {
    EXPECT_TRUE(LoadSix("").empty());
    EXPECT_TRUE(LoadSix("\r\n").empty());
    EXPECT_TRUE(LoadSix("\r\n\n\r\0\0\r\n"s).empty());
    EXPECT_TRUE(LoadSix(std::string(20000, '\n')).empty());
}

TEST(TableFileLines, NulEndsTheLineAndTheRestOfItIsANewLine) {
    // A NUL is a line end, so what follows it starts the next row.
    EXPECT_EQ(LoadSix("0000000000001,1\0,X"s),
              (std::vector<std::string>{"0000000000001|1|~|~|~|~", "~|X|~|~|~|~"}));
}

TEST(TableFileLines, LinesSpanningTheBlockBoundary) {
    // Fill up to just before byte 8192 so that one line, and once the CR LF itself, straddle
    // the boundary between the first and the second block.
    for (std::size_t before : {8180u, 8190u, 8191u, 8192u, 8193u}) {
        std::string file;
        int n = 0;
        while (file.size() + 40 < before) {
            std::string line = "FILL" + std::to_string(n++) + ",1,1,1,1,X\r\n";
            file += line;
        }
        file += "Z," + std::string(before - file.size() - 2, 'y') + "\r\n";  // ends at `before`
        file += "0000000000123,1,1,12.5,2,SPANNING THE BLOCKS\r\n";
        auto rows = LoadSix(file);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(n) + 2) << before;
        EXPECT_EQ(rows.back(), "0000000000123|1|1|12.5|2|SPANNING THE BLOCKS") << before;
    }
}

TEST(TableFileLines, SplitterGivesTheSameLinesWhateverTheBlockSize) {
    std::string bytes =
        "\r\nalpha,1\r\nbeta\n\n\rgamma\0\0delta\r"s + std::string(40, 'L') + "\ntail";
    const std::vector<std::string> expected = {
        "alpha,1", "beta", "gamma", "delta", std::string(40, 'L'), "tail"};
    for (std::size_t chunk = 1; chunk <= bytes.size(); ++chunk) {
        EXPECT_EQ(SplitAll(bytes, chunk), expected) << "chunk " << chunk;
    }
}

TEST(TableFileLines, VeryLongLinesAreReadWholeAndCut) {
    std::string name(100000, 'N');
    std::string code(30000, '7');
    auto rows = LoadSix(code + ",12345,3,1.25,2," + name + "\r\n0000000000001,1,1,1,1,SHORT\r\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], std::string(13, '7') + "|12|3|1.25|2|" + std::string(40, 'N'));
    EXPECT_EQ(rows[1], "0000000000001|1|1|1|1|SHORT");
}

TEST(TableFileValues, TheSixColumnExampleLines) {
    EXPECT_EQ(LoadSix("0000000000123,1,1,12.5,2,APA\r\n"),
              std::vector<std::string>{"0000000000123|1|1|12.5|2|APA"});
    EXPECT_EQ(LoadSix("0000000000123,1\r\n"), std::vector<std::string>{"0000000000123|1|~|~|~|~"});
    EXPECT_EQ(LoadSix("0000000000123,1,1,12.5,2,APA,SEVENTH\r\n"),
              std::vector<std::string>{"0000000000123|1|1|12.5|2|APA"});
    // Empty values between commas, before the first and after the last.
    EXPECT_EQ(LoadSix(",,,,,\r\n"), std::vector<std::string>{"~|~|~|~|~|~"});
    EXPECT_EQ(LoadSix("0000000000123,,7,,,\r\n"),
              std::vector<std::string>{"0000000000123|~|7|~|~|~"});
    // A decimal comma splits the number into two values of successive columns.
    EXPECT_EQ(LoadSix("0000000000123,1,1,1,5,APA\r\n"),
              std::vector<std::string>{"0000000000123|1|1|1|5|APA"});
    // Quotation marks have no meaning.
    EXPECT_EQ(LoadSix("\"A\",1,1,1,1,\"X,Y\"\r\n"), std::vector<std::string>{"\"A\"|1|1|1|1|\"X"});
}

TEST(TableFileValues, NumbersFollowTheFileRules) {
    auto table = MakeSixColumnTable();
    TempFolder dir;
    WriteFile(dir.File("n.txt"),
              "A,1,  42,  -1.5E-7 ,-2147483648\r\n"
              "B,1,+7,.5,2147483647\r\n"
              "C,1,0,1e3,-0\r\n");
    LoadTableFromFile(*table, dir.File("n.txt"));
    table->First();
    EXPECT_EQ(table->AsInteger(2), 42);
    EXPECT_EQ(table->AsDouble(3), -1.5e-7);
    EXPECT_EQ(table->AsInteger(4), -2147483647 - 1);
    table->Next();
    EXPECT_EQ(table->AsInteger(2), 7);
    EXPECT_EQ(table->AsDouble(3), 0.5);
    EXPECT_EQ(table->AsInteger(4), 2147483647);
    table->Next();
    EXPECT_EQ(table->AsText(3, '.'), "1000");
    EXPECT_EQ(table->AsText(4), "0");
}

TEST(TableFileValues, EscapesAreUndoneAndLonePercentSignsKept) {
    EXPECT_EQ(LoadSix("A,1,1,1,1,10%% OFF\r\n")[0], "A|1|1|1|1|10% OFF");
    EXPECT_EQ(LoadSix("A,1,1,1,1,X%cY%nZ\r\n")[0], "A|1|1|1|1|X\rY\nZ");
    EXPECT_EQ(LoadSix("A,1,1,1,1,BEFORE%0AFTER\r\n")[0], "A|1|1|1|1|BEFORE");
    EXPECT_EQ(LoadSix("A,1,1,1,1,%0AFTER\r\n")[0], "A|1|1|1|1|~");
    EXPECT_EQ(LoadSix("A,1,1,1,1,50%\r\n")[0], "A|1|1|1|1|50%");
    EXPECT_EQ(LoadSix("A,1,1,1,1,%x%C%N%\r\n")[0], "A|1|1|1|1|%x%C%N%");
    EXPECT_EQ(LoadSix("A,1,1,1,1,%%%n%%%\r\n")[0], "A|1|1|1|1|%\n%%");
    EXPECT_EQ(LoadSix("A,%,1,1,1,X\r\n")[0], "A|%|1|1|1|X");
}

TEST(TableFileValues, TextsAreCutToTheWidthAfterTheEscapes) {
    // 13 characters of code: each "%%" counts as one.
    EXPECT_EQ(
        LoadSix("%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%,123,1,1,1," + std::string(45, 'n') + "\r\n")[0],
        std::string(13, '%') + "|12|1|1|1|" + std::string(40, 'n'));
    EXPECT_EQ(LoadSix("A,1,1,1,1," + std::string(39, 'n') + "%n%n\r\n")[0],
              "A|1|1|1|1|" + std::string(39, 'n') + "\n");
}

TEST(TableFileValues, ConversionErrorsNameTheValueAndTheField) {
    TempFolder dir;
    struct Case {
        std::string line;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"A,1,42 ,1,1,X", "'42 ' is not a valid integer value for field 'VATGroup'"},
        {"A,1,x,1,1,X", "'x' is not a valid integer value for field 'VATGroup'"},
        {"A,1,1,1,2147483648,X", "'2147483648' is not a valid integer value for field 'Comma'"},
        {"A,1,1,1,1.0,X", "'1.0' is not a valid integer value for field 'Comma'"},
        {"A,1, ,1,1,X", "' ' is not a valid integer value for field 'VATGroup'"},
        {"A,1,1,12.5.1,1,X", "'12.5.1' is not a valid floating point value for field 'Price'"},
        {"A,1,1,1e999,1,X", "'1e999' is not a valid floating point value for field 'Price'"},
        {"A,1,1,E5,1,X", "'E5' is not a valid floating point value for field 'Price'"},
        {"A,1,1,- 1,1,X", "'- 1' is not a valid floating point value for field 'Price'"},
    };
    for (const Case& c : cases) {
        WriteFile(dir.File("bad.txt"), c.line + "\r\n");
        auto table = MakeSixColumnTable();
        EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, dir.File("bad.txt")); }), c.message);
        EXPECT_EQ(table->RowCount(), 0u) << c.line;
    }
}

TEST(TableFileValues, AFailingLineKeepsTheRowsBeforeItAndAddsNone) {
    TempFolder dir;
    WriteFile(dir.File("t.txt"),
              "0000000000001,1,1,1,1,ONE\r\n0000000000002,1,1,1,1,TWO\r\n"
              "0000000000003,1,1,oops,1,THREE\r\n0000000000004,1,1,1,1,FOUR\r\n");
    auto table = MakeSixColumnTable({"CodPLU"});
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, dir.File("t.txt")); }),
              "'oops' is not a valid floating point value for field 'Price'");
    EXPECT_EQ(Dump(*table),
              (std::vector<std::string>{"0000000000001|1|1|1|1|ONE", "0000000000002|1|1|1|1|TWO"}));
    // The rows kept are indexed and usable.
    EXPECT_TRUE(table->Locate(0, "0000000000002"));
    EXPECT_FALSE(table->Locate(0, "0000000000003"));
}

TEST(TableFileValues, DuplicateKeysFailAfterReadingEveryRow) {
    TempFolder dir;
    WriteFile(dir.File("t.txt"),
              "0000000000001,1,1,1,1,ONE\r\n0000000000002,1,1,1,1,TWO\r\n"
              "0000000000001,1,1,2,1,AGAIN\r\n0000000000004,1,1,1,1,FOUR\r\n");
    auto table = MakeSixColumnTable({"CodPLU"});
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, dir.File("t.txt")); }),
              "Duplicate index value. Operation aborted.");
    EXPECT_EQ(table->RowCount(), 4u);
    // The first of the equal rows is found.
    ASSERT_TRUE(table->Locate(0, "0000000000001"));
    EXPECT_EQ(table->AsText(5), "ONE");
    EXPECT_TRUE(table->Locate(0, "0000000000004"));
}

TEST(TableFileValues, LoadingAddsAfterTheRowsAlreadyHeld) {
    TempFolder dir;
    WriteFile(dir.File("a.txt"), "0000000000001,1,1,1,1,ONE\r\n");
    WriteFile(dir.File("b.txt"), "0000000000002,1,1,1,1,TWO\r\n");
    auto table = MakeSixColumnTable({"CodPLU"});
    LoadTableFromFile(*table, dir.File("a.txt"));
    LoadTableFromFile(*table, dir.File("b.txt"));
    EXPECT_EQ(table->RowCount(), 2u);
    EXPECT_TRUE(table->Locate(0, "0000000000001"));
    EXPECT_TRUE(table->Locate(0, "0000000000002"));
    // Loading the first file again collides with its own rows.
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, dir.File("a.txt")); }),
              "Duplicate index value. Operation aborted.");
    EXPECT_EQ(table->RowCount(), 3u);
}

TEST(TableFileErrors, MissingOrUnreadableFiles) {
    TempFolder dir;
    auto table = MakeSixColumnTable();
    std::string missing = dir.File("nope.txt");
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, missing); }), "Cannot open file " + missing);
    std::string folder = dir.Path().string();
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, folder); }), "Cannot open file " + folder);
}

TEST(TableFileErrors, EveryFailureClosesTheFile) {
    TempFolder dir;
    WriteFile(dir.File("bad.txt"), "A,1,x,1,1,X\r\n");
    WriteFile(dir.File("dup.txt"), "A,1,1,1,1,X\r\nA,1,1,1,1,X\r\n");
    WriteFile(dir.File("good.txt"), "A,1,1,1,1,X\r\n");
    WriteFile(dir.File("file"), "");
    auto table = MakeSixColumnTable({"CodPLU"});
    const int before = OpenDescriptorCount();
    for (const char* name : {"bad.txt", "dup.txt", "nope.txt"}) {
        table->EmptyTable();
        EXPECT_NE(ErrorOf([&] { LoadTableFromFile(*table, dir.File(name)); }), "") << name;
    }
    table->EmptyTable();
    LoadTableFromFile(*table, dir.File("good.txt"));
    for (const char* name : {"missing/t.txt", "file/t.txt"}) {
        EXPECT_NE(ErrorOf([&] { SaveTableToFile(*table, dir.File(name)); }), "") << name;
    }
    SaveTableToFile(*table, dir.File("saved.txt"));
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(TableFileSave, SaveThenLoadGivesTheSameRows) {
    TempFolder dir;
    auto table = MakeSixColumnTable({"CodPLU"});
    const std::vector<std::vector<std::string>> rows = {
        {"0000000000123", "01", "1", "12.5", "2", "APA MINERALA 0.5L"},
        {"0000000000124", "", "-7", "1.5E-7", "", "10% OFF"},
        {"5941234567890", "12", "", "123456789012345", "3", "LINE\rBREAK\nHERE"},
        {"A%B", "%", "2147483647", "-0.001", "-2147483648", "%0 is not a NUL here"},
        {"", "", "", "", "", ""},
        {"X", "1", "0", "1E20", "0", "\"quoted\" ;semi"},
    };
    for (const auto& values : rows) {
        table->Append();
        for (std::size_t c = 0; c < values.size(); ++c) {
            table->SetFromText(c, values[c]);
        }
        table->Post();
    }
    SaveTableToFile(*table, dir.File("t.txt"));
    EXPECT_EQ(ReadFile(dir.File("t.txt")),
              "0000000000123,01,1,12.5,2,APA MINERALA 0.5L\r\n"
              "0000000000124,,-7,1.5E-7,,10%% OFF\r\n"
              "5941234567890,12,,123456789012345,3,LINE%cBREAK%nHERE\r\n"
              "A%%B,%%,2147483647,-0.001,-2147483648,%%0 is not a NUL here\r\n"
              ",,,,,\r\n"
              "X,1,0,1E20,0,\"quoted\" ;semi\r\n");
    auto again = MakeSixColumnTable({"CodPLU"});
    LoadTableFromFile(*again, dir.File("t.txt"));
    EXPECT_EQ(Dump(*again), Dump(*table));
    for (again->First(), table->First(); !table->Eof(); again->Next(), table->Next()) {
        EXPECT_EQ(again->AsDouble(3), table->AsDouble(3));
        for (std::size_t c = 0; c < 6; ++c) {
            EXPECT_EQ(again->IsNull(c), table->IsNull(c));
        }
    }
}

TEST(TableFileSave, DoublesAreWrittenWithAPointUnderACommaLocale) {
    TempFolder dir;
    test::RegionalSeparatorScope comma(',');
    auto table = MakeSixColumnTable();
    table->Append();
    table->SetFromText(0, "A");
    table->SetFromText(3, "12.5");
    table->Post();
    table->Append();
    table->SetFromText(0, "B");
    table->SetFromText(3, "1.5E-7");
    table->Post();
    table->First();
    EXPECT_EQ(table->AsText(3), "12,5");  // the window shows the regional separator
    SaveTableToFile(*table, dir.File("t.txt"));
    auto again = MakeSixColumnTable();
    LoadTableFromFile(*again, dir.File("t.txt"));
    EXPECT_EQ(ReadFile(dir.File("t.txt")), "A,,,12.5,,\r\nB,,,1.5E-7,,\r\n");
    again->First();
    EXPECT_EQ(again->AsDouble(3), 12.5);
    again->Next();
    EXPECT_EQ(again->AsDouble(3), 1.5e-7);
}

TEST(TableFileSave, AnEmptyTableGivesAnEmptyFile) {
    TempFolder dir;
    WriteFile(dir.File("t.txt"), "old content\r\n");
    auto table = MakeSixColumnTable();
    SaveTableToFile(*table, dir.File("t.txt"));
    EXPECT_EQ(ReadFile(dir.File("t.txt")), "");
}

TEST(TableFileSave, BooleansAreTrueOnlyForExactlyTrue) {
    TempFolder dir;
    CsvTable table({{"Flag", ColumnType::Boolean, 0}, {"Name", ColumnType::Text, 5}}, {});
    WriteFile(dir.File("b.txt"), "True,a\r\ntrue,b\r\nFalse,c\r\n,d\r\nTRUE,e\r\n");
    LoadTableFromFile(table, dir.File("b.txt"));
    EXPECT_EQ(Dump(table),
              (std::vector<std::string>{"True|a", "False|b", "False|c", "~|d", "False|e"}));
    SaveTableToFile(table, dir.File("c.txt"));
    EXPECT_EQ(ReadFile(dir.File("c.txt")), "True,a\r\nFalse,b\r\nFalse,c\r\n,d\r\nFalse,e\r\n");
}

TEST(TableFileSave, FailuresToCreateLeaveTheTableAndNoFile) {
    TempFolder dir;
    WriteFile(dir.File("plain"), "x");
    std::filesystem::create_directory(dir.File("folder"));
    auto table = MakeSixColumnTable();
    table->Append();
    table->SetFromText(0, "A");
    table->Post();
    for (const std::string& path :
         {dir.File("missing/ECRs.dat"), dir.File("plain/ECRs.dat"), dir.File("folder")}) {
        EXPECT_EQ(ErrorOf([&] { SaveTableToFile(*table, path); }), "Cannot create file " + path);
    }
    EXPECT_EQ(table->RowCount(), 1u);
    EXPECT_EQ(ReadFile(dir.File("plain")), "x");
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("folder")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

}  // namespace
}  // namespace tallyport
