#include <gtest/gtest.h>

#include <map>
#include <random>

#include "TableTestSupport.h"
#include "store/StoreError.h"

namespace tallyport {
namespace {

using testing::Dump;
using testing::ErrorOf;
using testing::MakeSixColumnTable;
using namespace std::string_literals;

constexpr const char* kDuplicate = "Duplicate index value. Operation aborted.";
constexpr const char* kEmpty = "Cannot perform this operation on an empty table";

void AddRow(CsvTable& table, const std::vector<std::string>& values) {
    table.Append();
    for (std::size_t c = 0; c < values.size(); ++c) {
        table.SetFromText(c, values[c]);
    }
    table.Post();
}

// Code (text 5, unique), number (integer, unique), name (text 30), sorted by number.
std::unique_ptr<CsvTable> MakeKeyedTable(std::string orderBy = "Number") {
    return std::make_unique<CsvTable>(std::vector<ColumnDef>{{"Code", ColumnType::Text, 5},
                                                             {"Number", ColumnType::Integer, 0},
                                                             {"Name", ColumnType::Text, 30}},
                                      std::vector<std::string>{"Code", "Number"},
                                      std::move(orderBy));
}

TEST(TableRows, AppendEditDeleteAndNavigation) {
    auto table = MakeSixColumnTable({"CodPLU"});
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->AsText(0), "");  // an empty table reads as values without a value
    EXPECT_TRUE(table->IsNull(2));
    AddRow(*table, {"A", "1", "1", "1", "1", "FIRST"});
    AddRow(*table, {"B", "1", "2", "2", "1", "SECOND"});
    AddRow(*table, {"C", "1", "3", "3", "1", "THIRD"});
    EXPECT_EQ(table->Position(), 2u);  // the posted row is current
    EXPECT_EQ(table->AsText(5), "THIRD");

    table->MoveTo(1);
    table->Edit();
    table->SetFromText(5, "CHANGED");
    EXPECT_EQ(table->AsText(5), "CHANGED");  // the pending value is read while editing
    table->Post();
    EXPECT_EQ(Dump(*table), (std::vector<std::string>{"A|1|1|1|1|FIRST", "B|1|2|2|1|CHANGED",
                                                      "C|1|3|3|1|THIRD"}));

    table->MoveTo(1);
    table->Delete();
    EXPECT_EQ(table->AsText(0), "C");  // the next row becomes current
    table->Delete();
    EXPECT_EQ(table->AsText(0), "A");  // the last one deleted: the row before it
    EXPECT_EQ(table->RowCount(), 1u);
    EXPECT_FALSE(table->Locate(0, "B"));
    EXPECT_TRUE(table->Locate(0, "A"));
    table->Delete();
    EXPECT_EQ(table->RowCount(), 0u);
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(ErrorOf([&] { table->Delete(); }), kEmpty);
    EXPECT_EQ(ErrorOf([&] { table->Edit(); }), kEmpty);
    EXPECT_NE(ErrorOf([&] { table->MoveTo(0); }), "");
}

TEST(TableRows, EofAfterNextOnTheLastRow) {
    auto table = MakeSixColumnTable();
    AddRow(*table, {"A"});
    AddRow(*table, {"B"});
    table->First();
    EXPECT_FALSE(table->Eof());
    table->Next();
    EXPECT_FALSE(table->Eof());
    EXPECT_EQ(table->AsText(0), "B");
    table->Next();
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->AsText(0), "B");
    table->First();
    EXPECT_EQ(table->AsText(0), "A");
}

TEST(TableRows, CancelDropsTheChange) {
    auto table = MakeSixColumnTable({"CodPLU"});
    AddRow(*table, {"A", "1", "1", "1", "1", "FIRST"});
    table->Append();
    table->SetFromText(0, "B");
    table->Cancel();
    EXPECT_EQ(table->RowCount(), 1u);
    table->Edit();
    table->SetFromText(5, "CHANGED");
    table->SetNull(2);
    table->Cancel();
    EXPECT_EQ(Dump(*table), std::vector<std::string>{"A|1|1|1|1|FIRST"});
    EXPECT_FALSE(table->Editing());
}

TEST(TableRows, OperationsOutOfTurnAreRefused) {
    auto table = MakeSixColumnTable();
    EXPECT_NE(ErrorOf([&] { table->SetFromText(0, "A"); }), "");
    EXPECT_NE(ErrorOf([&] { table->Post(); }), "");
    table->Append();
    EXPECT_NE(ErrorOf([&] { table->Append(); }), "");
    EXPECT_NE(ErrorOf([&] { table->First(); }), "");
    EXPECT_NE(ErrorOf([&] { table->Locate(0, "A"); }), "");
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, "/nonexistent"); }),
              "A change of the table is pending: post or cancel it first");
    EXPECT_NE(ErrorOf([&] { table->SetFromText(6, "A"); }), "");
    table->EmptyTable();  // drops the pending row
    EXPECT_FALSE(table->Editing());
    table->Close();
    EXPECT_FALSE(table->IsOpen());
    EXPECT_NE(ErrorOf([&] { table->Append(); }), "");
    // A closed table is neither saved over a file nor loaded.
    test::TempFolder dir;
    test::WriteFile(dir.File("t.txt"), "A\r\n");
    const char* closed = "Cannot perform this operation on a closed table";
    EXPECT_EQ(ErrorOf([&] { SaveTableToFile(*table, dir.File("t.txt")); }), closed);
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*table, dir.File("t.txt")); }), closed);
    EXPECT_EQ(test::ReadFile(dir.File("t.txt")), "A\r\n");
    table->Open();
    AddRow(*table, {"A"});
    EXPECT_EQ(table->RowCount(), 1u);
    table->Close();
    table->Open();
    EXPECT_EQ(table->RowCount(), 0u);
}

TEST(TableRows, SetFromTextConvertsLikeTheFile) {
    auto table = MakeSixColumnTable();
    table->Append();
    table->SetFromText(0, "12345678901234567");
    table->SetFromText(1, "ABC");
    table->SetFromText(2, " 42");
    table->SetFromText(3, " 2.50 ");
    table->SetFromText(4, "-3");
    table->SetFromText(5, "TEXT\0HIDDEN"s);
    EXPECT_EQ(table->AsText(0), "1234567890123");
    EXPECT_EQ(table->AsText(1), "AB");
    EXPECT_EQ(table->AsInteger(2), 42);
    EXPECT_EQ(table->AsText(3, '.'), "2.5");
    EXPECT_EQ(table->AsText(5), "TEXT");
    // A failed conversion names the value and the field and leaves the column as it was.
    EXPECT_EQ(ErrorOf([&] { table->SetFromText(2, "42 "); }),
              "'42 ' is not a valid integer value for field 'VATGroup'");
    EXPECT_EQ(ErrorOf([&] { table->SetFromText(3, "2,5"); }),
              "'2,5' is not a valid floating point value for field 'Price'");
    EXPECT_EQ(table->AsInteger(2), 42);
    // No escapes are undone; empty text leaves no value.
    table->SetFromText(5, "10%% OFF%n");
    EXPECT_EQ(table->AsText(5), "10%% OFF%n");
    table->SetFromText(4, "");
    EXPECT_TRUE(table->IsNull(4));
    EXPECT_EQ(table->AsInteger(4), 0);
    table->SetFromText(1, "");
    EXPECT_TRUE(table->IsNull(1));
    table->Post();
    EXPECT_EQ(Dump(*table), std::vector<std::string>{"1234567890123|~|42|2.5|~|10%% OFF%n"});
}

TEST(TableRows, ReadingAcrossTypes) {
    auto table = MakeSixColumnTable();
    AddRow(*table, {"17", "1", "5", "2.5", "0", "NAME"});
    table->First();
    EXPECT_EQ(table->AsInteger(0), 17);
    EXPECT_EQ(table->AsDouble(2), 5.0);
    EXPECT_EQ(table->AsInteger(3), 3);  // rounded
    EXPECT_FALSE(table->AsBoolean(4));
    EXPECT_EQ(ErrorOf([&] { table->AsInteger(5); }),
              "'NAME' is not a valid integer value for field 'Name'");
    EXPECT_EQ(ErrorOf([&] { table->AsDouble(5); }),
              "'NAME' is not a valid floating point value for field 'Name'");
    EXPECT_EQ(table->ColumnIndex("Price"), 3u);
    EXPECT_NE(ErrorOf([&] { table->ColumnIndex("price"); }), "");
}

TEST(TableKeys, PostRefusesADuplicateAndCancelRestores) {
    auto table = MakeKeyedTable();
    AddRow(*table, {"AA", "1", "one"});
    AddRow(*table, {"BB", "2", "two"});
    table->Append();
    table->SetFromText(0, "AA");
    table->SetFromText(1, "3");
    EXPECT_EQ(ErrorOf([&] { table->Post(); }), kDuplicate);
    EXPECT_TRUE(table->Editing());
    table->SetFromText(0, "CC");  // the pending row can still be fixed
    table->SetFromText(1, "2");
    EXPECT_EQ(ErrorOf([&] { table->Post(); }), kDuplicate);
    table->Cancel();
    EXPECT_EQ(Dump(*table), (std::vector<std::string>{"AA|1|one", "BB|2|two"}));

    // Editing a row may keep its own key values, but not take another row's.
    ASSERT_TRUE(table->Locate(0, "BB"));
    table->Edit();
    table->SetFromText(2, "deux");
    table->Post();
    table->Edit();
    table->SetFromText(1, "1");
    EXPECT_EQ(ErrorOf([&] { table->Post(); }), kDuplicate);
    table->Cancel();
    EXPECT_EQ(Dump(*table), (std::vector<std::string>{"AA|1|one", "BB|2|deux"}));
    // Letter case counts in a text key.
    AddRow(*table, {"aa", "4", "lower"});
    EXPECT_EQ(table->RowCount(), 3u);
}

TEST(TableKeys, RowsWithoutAKeyValueCollide) {
    auto table = MakeKeyedTable();
    AddRow(*table, {"AA", "", "no number"});
    table->Append();
    table->SetFromText(0, "BB");
    EXPECT_EQ(ErrorOf([&] { table->Post(); }), kDuplicate);
    table->Cancel();
    AddRow(*table, {"", "5", "no code"});
    table->Append();
    table->SetFromText(1, "6");
    EXPECT_EQ(ErrorOf([&] { table->Post(); }), kDuplicate);
    table->Cancel();
    // A number 0 is a value of its own, not the same as no value.
    AddRow(*table, {"CC", "0", "zero"});
    EXPECT_TRUE(table->Locate(1, ""));
    EXPECT_EQ(table->AsText(2), "no number");
    EXPECT_TRUE(table->Locate(1, "0"));
    EXPECT_EQ(table->AsText(2), "zero");
    EXPECT_TRUE(table->Locate(0, ""));
    EXPECT_EQ(table->AsText(2), "no code");
}

TEST(TableKeys, RefusedCommasOnlyWhenAsked) {
    auto table = MakeKeyedTable();
    AddRow(*table, {"A,B", "1", "x,y"});
    table->SetRefuseCommas(true);
    table->Append();
    table->SetFromText(0, "CC");
    EXPECT_EQ(ErrorOf([&] { table->SetFromText(2, "CASA 1, ETAJ 2"); }),
              "Eroare: Campul Name nu poate contine virgula!");
    EXPECT_EQ(table->AsText(2), "");
    // A comma beyond the width is cut away before the check.
    table->SetFromText(0, "ABCDE,F");
    EXPECT_EQ(table->AsText(0), "ABCDE");
    table->Cancel();
    EXPECT_EQ(table->RowCount(), 1u);
}

TEST(TableOrder, SortedByTheOrderColumnOnPostEditAndLoad) {
    auto table = MakeKeyedTable();
    AddRow(*table, {"E", "5", "five"});
    AddRow(*table, {"B", "2", "two"});
    AddRow(*table, {"I", "9", "nine"});
    EXPECT_EQ(table->AsText(0), "I");
    EXPECT_EQ(table->Position(), 2u);
    AddRow(*table, {"N", "", "none"});
    EXPECT_EQ(table->Position(), 0u);  // no value sorts first
    AddRow(*table, {"M", "-1", "minus"});
    EXPECT_EQ(Dump(*table), (std::vector<std::string>{"N|~|none", "M|-1|minus", "B|2|two",
                                                      "E|5|five", "I|9|nine"}));
    ASSERT_TRUE(table->Locate(0, "E"));
    table->Edit();
    table->SetFromText(1, "10");
    table->Post();
    EXPECT_EQ(table->Position(), 4u);  // the changed row stays current in its new place
    EXPECT_EQ(table->AsText(0), "E");
    ASSERT_TRUE(table->Locate(1, "9"));
    EXPECT_EQ(table->Position(), 3u);
    table->Delete();
    EXPECT_EQ(Dump(*table),
              (std::vector<std::string>{"N|~|none", "M|-1|minus", "B|2|two", "E|10|five"}));

    test::TempFolder dir;
    test::WriteFile(dir.File("k.txt"), "Z,7,seven\r\nY,3,three\r\n");
    LoadTableFromFile(*table, dir.File("k.txt"));
    EXPECT_EQ(table->Position(), 0u);  // the first row is current after a load
    EXPECT_EQ(Dump(*table), (std::vector<std::string>{"N|~|none", "M|-1|minus", "B|2|two",
                                                      "Y|3|three", "Z|7|seven", "E|10|five"}));
}

TEST(TableOrder, TextOrderIsByteOrder) {
    auto table = MakeKeyedTable("Code");
    int number = 0;
    for (const char* code : {"b", "B", "\xC3", "a", "10", "9"}) {
        AddRow(*table, {code, std::to_string(++number), ""});
    }
    std::vector<std::string> codes;
    for (table->First(); !table->Eof(); table->Next()) {
        codes.push_back(table->AsText(0));
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"10", "9", "B", "a", "b", "\xC3"}));
}

TEST(TableLocate, ValuesByColumnType) {
    auto table = MakeSixColumnTable({"CodPLU", "VATGroup"});
    AddRow(*table, {"0000000000123", "01", "7", "12.5", "2", "APA"});
    AddRow(*table, {"123", "02", "8", "0.5", "2", "PAINE"});
    EXPECT_TRUE(table->Locate(0, "123"));
    EXPECT_EQ(table->AsText(5), "PAINE");
    EXPECT_TRUE(table->Locate(0, "0000000000123"));
    EXPECT_EQ(table->AsText(5), "APA");
    EXPECT_FALSE(table->Locate(0, "00000000001234"));  // longer than any stored code
    EXPECT_EQ(table->AsText(5), "APA");                // not found: the row stays
    EXPECT_TRUE(table->Locate(2, "8"));                // integer key by value
    EXPECT_EQ(table->AsText(5), "PAINE");
    EXPECT_TRUE(table->Locate(2, " 7"));
    EXPECT_FALSE(table->Locate(2, "seven"));
    EXPECT_TRUE(table->Locate(3, "0.50"));  // a column without key: found by a scan
    EXPECT_EQ(table->AsText(5), "PAINE");
    EXPECT_TRUE(table->Locate(4, "2"));  // the first of equal values
    EXPECT_EQ(table->AsText(5), "APA");
    EXPECT_FALSE(table->Locate(1, "1"));
    EXPECT_FALSE(table->Locate(5, "apa"));
}

// Reading by position finds what Locate finds, reads what AsText reads and moves nothing; on an
// ordered table whose load left equal keys, the first row in the order, as Locate.
TEST(TableFind, FindsByPositionWithoutTheCurrentRow) {
    auto table = MakeSixColumnTable({"CodPLU", "VATGroup"});
    AddRow(*table, {"0000000000123", "01", "7", "12.5", "2", "APA"});
    AddRow(*table, {"123", "02", "8", "0.5", "", "PAINE"});
    ASSERT_TRUE(table->Locate(0, "123"));
    const CsvTable& reader = *table;
    EXPECT_EQ(reader.Find(0, "0000000000123"), std::optional<std::size_t>(0));
    EXPECT_EQ(reader.Find(0, "123"), std::optional<std::size_t>(1));
    EXPECT_EQ(reader.Find(0, "00000000001234"), std::nullopt);
    EXPECT_EQ(reader.Find(2, " 7"), std::optional<std::size_t>(0));
    EXPECT_EQ(reader.Find(2, "seven"), std::nullopt);
    EXPECT_EQ(reader.Find(3, "0.50"), std::optional<std::size_t>(1));  // a scan
    EXPECT_EQ(reader.Find(4, ""), std::optional<std::size_t>(1));      // no value
    EXPECT_EQ(reader.TextAt(0, 3, ','), "12,5");
    EXPECT_EQ(reader.TextAt(0, 5, '.'), "APA");
    EXPECT_EQ(reader.TextAt(1, 4, '.'), "");
    EXPECT_EQ(ErrorOf([&] { reader.TextAt(2, 0, '.'); }), "No row at position 2");
    EXPECT_NE(ErrorOf([&] { reader.TextAt(0, 6, '.'); }), "");
    EXPECT_EQ(table->AsText(5), "PAINE");  // the current row stayed

    auto ordered = MakeKeyedTable("Name");
    test::TempFolder dir;
    test::WriteFile(dir.File("k.txt"), "A,1,zeta\r\nB,2,beta\r\nA,3,alpha\r\n");
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*ordered, dir.File("k.txt")); }), kDuplicate);
    ordered->MoveTo(2);
    const CsvTable& sorted = *ordered;
    EXPECT_EQ(sorted.Find(0, "A"), std::optional<std::size_t>(0));  // alpha before zeta
    EXPECT_EQ(sorted.TextAt(0, 2, '.'), "alpha");
    EXPECT_EQ(sorted.Find(1, "2"), std::optional<std::size_t>(1));
    EXPECT_EQ(ordered->AsText(2), "zeta");
    ASSERT_TRUE(ordered->Locate(0, "A"));
    EXPECT_EQ(ordered->AsText(2), "alpha");
}

// Random appends, edits and deletes checked against a plain map of the expected content; this
// drives the index through growth, collisions and deletions, for a short text key (held whole
// in the index) and a long one (held as a hash and confirmed on the row).
class TableKeysRandom : public ::testing::TestWithParam<std::size_t> {};

INSTANTIATE_TEST_SUITE_P(Widths, TableKeysRandom, ::testing::Values(8, 30));

TEST_P(TableKeysRandom, RandomChangesAgreeWithAModel) {
    auto table =
        std::make_unique<CsvTable>(std::vector<ColumnDef>{{"Code", ColumnType::Text, GetParam()},
                                                          {"Value", ColumnType::Integer, 0}},
                                   std::vector<std::string>{"Code"});
    std::map<std::string, int> model;
    std::mt19937 random(12345);
    auto code = [&random] { return "K" + std::to_string(random() % 3000); };
    for (int step = 0; step < 20000; ++step) {
        int action = static_cast<int>(random() % 10);
        std::string key = code();
        if (action < 6) {
            table->Append();
            table->SetFromText(0, key);
            table->SetFromText(1, std::to_string(step));
            bool exists = model.count(key) > 0;
            EXPECT_EQ(ErrorOf([&] { table->Post(); }), exists ? kDuplicate : "");
            if (exists) {
                table->Cancel();
            } else {
                model[key] = step;
            }
        } else if (action < 8) {
            bool found = table->Locate(0, key);
            ASSERT_EQ(found, model.count(key) > 0) << key;
            if (found) {
                EXPECT_EQ(table->AsInteger(1), model[key]);
                table->Delete();
                model.erase(key);
            }
        } else if (table->Locate(0, key)) {
            std::string renamed = code();
            table->Edit();
            table->SetFromText(0, renamed);
            bool clash = renamed != key && model.count(renamed) > 0;
            EXPECT_EQ(ErrorOf([&] { table->Post(); }), clash ? kDuplicate : "");
            if (clash) {
                table->Cancel();
            } else {
                int value = model[key];
                model.erase(key);
                model[renamed] = value;
            }
        }
    }
    ASSERT_EQ(table->RowCount(), model.size());
    for (int k = 0; k < 3000; ++k) {
        std::string key = "K" + std::to_string(k);
        ASSERT_EQ(table->Locate(0, key), model.count(key) > 0) << key;
        if (model.count(key) > 0) {
            EXPECT_EQ(table->AsInteger(1), model[key]);
        }
    }
}

TEST(TableKeys, NumberAndBooleanKeys) {
    CsvTable table({{"Price", ColumnType::Double, 0}, {"Flag", ColumnType::Boolean, 0}},
                   {"Price", "Flag"});
    AddRow(table, {"0", "True"});
    table.Append();
    table.SetFromText(0, "-0");  // equal to 0
    table.SetFromText(1, "False");
    EXPECT_EQ(ErrorOf([&] { table.Post(); }), kDuplicate);
    table.SetFromText(0, "1.5");
    table.SetFromText(1, "true");  // false: only "True" is true
    table.Post();
    table.Append();
    table.SetFromText(0, "2.5");
    EXPECT_EQ(ErrorOf([&] { table.Post(); }), "");  // no flag: a value of its own
    EXPECT_TRUE(table.Locate(0, "1.50"));
    EXPECT_EQ(table.AsText(1), "False");
    EXPECT_TRUE(table.Locate(0, "-0.0"));
    EXPECT_EQ(table.AsText(1), "True");
    EXPECT_TRUE(table.Locate(1, ""));
    EXPECT_EQ(table.AsText(0, '.'), "2.5");
    EXPECT_FALSE(table.Locate(0, "3"));
    EXPECT_FALSE(table.Locate(0, "x"));
}

}  // namespace
}  // namespace tallyport
