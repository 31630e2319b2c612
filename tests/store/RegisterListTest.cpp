#include <gtest/gtest.h>

#include <filesystem>

#include "TableTestSupport.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using testing::AddRegister;
using testing::ErrorOf;

constexpr const char* kDuplicate = "Duplicate index value. Operation aborted.";

std::vector<std::string> LogicalNumbers(CsvTable& list) {
    std::vector<std::string> numbers;
    for (list.First(); !list.Eof(); list.Next()) {
        numbers.push_back(list.AsText(kRegLogicalNb));
    }
    return numbers;
}

TEST(RegisterList, ColumnsKeysAndTheExampleLine) {
    TempFolder dir;
    auto list = MakeRegisterList();
    ASSERT_EQ(list->Columns().size(), 9u);
    EXPECT_EQ(list->Columns()[kRegLogicalNb].name, "LogicalNb");
    EXPECT_EQ(list->Columns()[kRegObservatii].name, "Observatii");
    EXPECT_EQ(list->Columns()[kRegObservatii].width, 30u);
    EXPECT_TRUE(list->RefusesCommas());

    WriteFile(dir.File("ECRs.dat"), "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA 1\r\n");
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    list->First();
    RegisterEntry entry = ReadRegisterEntry(*list);
    EXPECT_EQ(entry.LogicalNb, 1);
    EXPECT_EQ(entry.ModelType, "Datecs MP55");
    EXPECT_EQ(entry.TranRate, 9600);
    EXPECT_EQ(entry.DataBits, 8);
    EXPECT_EQ(entry.Parity, "None");
    EXPECT_EQ(entry.StopBits, 1);
    EXPECT_EQ(entry.CommPort, "COM1");
    EXPECT_EQ(entry.Fiscal, "DA00000001");
    EXPECT_EQ(entry.Observatii, "CASA 1");
}

TEST(RegisterList, ColumnsWithoutValueReadAsNothing) {
    TempFolder dir;
    auto list = MakeRegisterList();
    WriteFile(dir.File("ECRs.dat"), ",Datecs MP55,,8,,,COM2\r\n");
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    list->First();
    RegisterEntry entry = ReadRegisterEntry(*list);
    EXPECT_FALSE(entry.LogicalNb.has_value());
    EXPECT_FALSE(entry.TranRate.has_value());
    EXPECT_EQ(entry.DataBits, 8);
    EXPECT_FALSE(entry.StopBits.has_value());
    EXPECT_EQ(entry.Parity, "");
    EXPECT_EQ(entry.Observatii, "");
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), ",Datecs MP55,,8,,,COM2,,\r\n");
}

TEST(RegisterList, OrderedByLogicalNumberEverywhere) {
    TempFolder dir;
    auto list = MakeRegisterList();
    AddRegister(*list, "5", "COM5");
    AddRegister(*list, "2", "COM2");
    AddRegister(*list, "9", "COM9");
    EXPECT_EQ(LogicalNumbers(*list), (std::vector<std::string>{"2", "5", "9"}));
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "2,Datecs MP55,9600,8,None,1,COM2,DA00000002,CASA\r\n"
              "5,Datecs MP55,9600,8,None,1,COM5,DA00000005,CASA\r\n"
              "9,Datecs MP55,9600,8,None,1,COM9,DA00000009,CASA\r\n");
    // A file written in another order loads sorted too.
    WriteFile(dir.File("other.dat"),
              "9,Datecs MP55,9600,8,None,1,COM9,F9,C\r\n5,Datecs MP55,9600,8,None,1,COM5,F5,C\r\n"
              "2,Datecs MP55,9600,8,None,1,COM2,F2,C\r\n");
    auto loaded = MakeRegisterList();
    LoadTableFromFile(*loaded, dir.File("other.dat"));
    EXPECT_EQ(LogicalNumbers(*loaded), (std::vector<std::string>{"2", "5", "9"}));
}

TEST(RegisterList, DuplicatePortOrNumberRefusedOnPost) {
    auto list = MakeRegisterList();
    AddRegister(*list, "1", "COM1");
    AddRegister(*list, "2", "COM2");
    for (auto [number, port] : {std::pair{"3", "COM1"}, std::pair{"1", "COM3"}}) {
        EXPECT_EQ(ErrorOf([&] { AddRegister(*list, number, port); }), kDuplicate);
        list->Cancel();
        EXPECT_EQ(LogicalNumbers(*list), (std::vector<std::string>{"1", "2"}));
    }
    // Changing a register to another's port is refused the same way.
    ASSERT_TRUE(list->Locate(kRegLogicalNb, "2"));
    list->Edit();
    list->SetFromText(kRegCommPort, "COM1");
    EXPECT_EQ(ErrorOf([&] { list->Post(); }), kDuplicate);
    list->Cancel();
    EXPECT_EQ(list->AsText(kRegCommPort), "COM2");
    // Only one register may be without a logical number.
    AddRegister(*list, "", "COM7");
    EXPECT_EQ(ErrorOf([&] { AddRegister(*list, "", "COM8"); }), kDuplicate);
    list->Cancel();
    EXPECT_EQ(list->RowCount(), 3u);
}

TEST(RegisterList, DuplicatePortOrNumberInTheFileFailsTheLoad) {
    TempFolder dir;
    const std::string ports =
        "1,Datecs MP55,9600,8,None,1,COM1,F1,A\r\n2,Datecs MP55,9600,8,None,1,COM1,F2,B\r\n";
    const std::string numbers =
        "1,Datecs MP55,9600,8,None,1,COM1,F1,A\r\n1,Datecs MP55,9600,8,None,1,COM2,F2,B\r\n";
    for (const std::string& content : {ports, numbers}) {
        WriteFile(dir.File("ECRs.dat"), content);
        auto list = MakeRegisterList();
        EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*list, dir.File("ECRs.dat")); }), kDuplicate);
        EXPECT_EQ(list->RowCount(), 2u);
    }
}

TEST(RegisterList, CommasAreRefusedAndNoHalfRowReachesTheFile) {
    TempFolder dir;
    auto list = MakeRegisterList();
    AddRegister(*list, "1", "COM1");
    list->Append();
    list->SetFromText(kRegLogicalNb, "2");
    list->SetFromText(kRegCommPort, "COM2");
    EXPECT_EQ(ErrorOf([&] { list->SetFromText(kRegObservatii, "CASA 2, ETAJ 1"); }),
              "Eroare: Campul Observatii nu poate contine virgula!");
    EXPECT_EQ(ErrorOf([&] { list->SetFromText(kRegFiscal, "DA,1"); }),
              "Eroare: Campul Fiscal nu poate contine virgula!");
    list->Cancel();
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA\r\n");
    // A comma in the file still separates values.
    WriteFile(dir.File("ECRs.dat"), "3,Datecs MP55,9600,8,None,1,COM3,F3,CASA 3, ETAJ 1\r\n");
    auto loaded = MakeRegisterList();
    LoadTableFromFile(*loaded, dir.File("ECRs.dat"));
    loaded->First();
    EXPECT_EQ(loaded->AsText(kRegObservatii), "CASA 3");
}

TEST(RegisterList, EmptyFileAndLongRemarks) {
    TempFolder dir;
    WriteFile(dir.File("ECRs.dat"), "");
    auto list = MakeRegisterList();
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(list->RowCount(), 0u);
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), "");

    WriteFile(dir.File("ECRs.dat"),
              "1,Datecs MP55,9600,8,None,1,COM1,F1,CASA DE MARCAT DIN MAGAZINUL CENTRAL\r\n");
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,COM1,F1,CASA DE MARCAT DIN MAGAZINUL C\r\n");
}

TEST(RegisterList, ABadNumberInTheFileNamesTheColumn) {
    TempFolder dir;
    WriteFile(dir.File("ECRs.dat"),
              "1,Datecs MP55,9600,8,None,1,COM1,F1,A\r\nX,Datecs MP55,9600,8,None,1,COM2,F2,B\r\n");
    auto list = MakeRegisterList();
    EXPECT_EQ(ErrorOf([&] { LoadTableFromFile(*list, dir.File("ECRs.dat")); }),
              "'X' is not a valid integer value for field 'LogicalNb'");
    EXPECT_EQ(LogicalNumbers(*list), std::vector<std::string>{"1"});
}

TEST(RegisterList, PortNamesAsLongAsThePathLimitKeptWhole) {
    TempFolder dir;
    // A stable device name of 80 characters, as the dialog offers it.
    const std::string byId =
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI0123456789ABCDEFGH-if00-port0";
    ASSERT_EQ(byId.size(), 80u);
    const std::string line = "2,Datecs MP55,9600,8,None,1," + byId + ",F2,CASA 2\r\n";
    const std::string shortNames =
        "1,Datecs MP55,9600,8,None,1,/dev/ttyUSB0123456789,F1,A\r\n"  // exactly 20
        "3,Datecs MP55,9600,8,None,1,COM3,F3,B\r\n";
    WriteFile(dir.File("ECRs.dat"), shortNames);
    auto list = MakeRegisterList();
    EXPECT_EQ(list->Columns()[kRegCommPort].width, 4095u);  // PATH_MAX less its NUL
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), shortNames) << "names of 20 or fewer as before";

    WriteFile(dir.File("ECRs.dat"), line + shortNames);
    auto withLong = MakeRegisterList();
    LoadTableFromFile(*withLong, dir.File("ECRs.dat"));
    SaveTableToFile(*withLong, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,/dev/ttyUSB0123456789,F1,A\r\n" + line +
                  "3,Datecs MP55,9600,8,None,1,COM3,F3,B\r\n");

    // Typed in the dialog: kept whole up to the limit, refused beyond it, never cut.
    auto typed = MakeRegisterList();
    const std::string byPath = "/dev/serial/by-path/" + std::string(280, 'p');
    AddRegister(*typed, "4", byPath);
    const std::string longest = "/dev/" + std::string(4090, 'x');
    AddRegister(*typed, "5", longest);
    typed->Append();
    EXPECT_EQ(ErrorOf([&] { typed->SetFromText(kRegCommPort, longest + "y"); }),
              "Eroare: Campul CommPort poate avea cel mult 4095 caractere!");
    typed->Cancel();
    EXPECT_EQ(typed->RowCount(), 2u);
    typed->First();
    EXPECT_EQ(ReadRegisterEntry(*typed).CommPort, byPath);
    typed->Next();
    EXPECT_EQ(ReadRegisterEntry(*typed).CommPort, longest);
    // The other texts are cut to their widths as ever.
    typed->Append();
    typed->SetFromText(kRegFiscal, std::string(25, 'F'));
    EXPECT_EQ(typed->AsText(kRegFiscal), std::string(20, 'F'));
    typed->Cancel();
    SaveTableToFile(*typed, dir.File("ECRs.dat"));
    auto reread = MakeRegisterList();
    LoadTableFromFile(*reread, dir.File("ECRs.dat"));
    reread->MoveTo(1);
    EXPECT_EQ(ReadRegisterEntry(*reread).CommPort, longest);
}

TEST(RegisterList, ARemarkIsCutWithoutSplittingAUtf8Character) {
    TempFolder dir;
    const std::string aBreve = "\xC4\x82";
    std::string remark = "A";
    for (int i = 0; i < 15; ++i) {
        remark += aBreve;  // 31 bytes in all; the column holds 30
    }
    const std::string kept = remark.substr(0, 29);
    auto list = MakeRegisterList();
    AddRegister(*list, "1", "COM1", remark);
    EXPECT_EQ(list->AsText(kRegObservatii), kept);
    SaveTableToFile(*list, dir.File("ECRs.dat"));
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")),
              "1,Datecs MP55,9600,8,None,1,COM1,DA00000001," + kept + "\r\n");

    // Read from a file too, with an escape before the cut.
    WriteFile(dir.File("ECRs.dat"), "2,Datecs MP55,9600,8,None,1,COM2,F2,%%%%" + remark + "\r\n");
    list->EmptyTable();
    LoadTableFromFile(*list, dir.File("ECRs.dat"));
    list->First();
    EXPECT_EQ(list->AsText(kRegObservatii), "%%" + remark.substr(0, 27));
}

}  // namespace
}  // namespace tallyport
