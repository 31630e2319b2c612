#pragma once

#include <memory>
#include <optional>
#include <string>

#include "store/CsvTable.h"

namespace tallyport {

// Width of the port column: the longest path the system opens (Linux's PATH_MAX less its
// NUL), so that any device path the system takes, such as /dev/serial/by-path/pci-...-port0,
// fits whole. A longer name is refused on entry, never cut (MakeRegisterList).
inline constexpr std::size_t kCommPortWidth = 4095;

// Columns of the register list, in file order.
enum RegisterColumn : std::size_t {
    kRegLogicalNb = 0,  // integer, unique key IndexLogicalNr, the list's order
    kRegModelType,      // text 20
    kRegTranRate,       // integer
    kRegDataBits,       // integer
    kRegParity,         // text 20
    kRegStopBits,       // integer
    kRegCommPort,       // text kCommPortWidth, unique key IndexCom
    kRegFiscal,         // text 20
    kRegObservatii,     // text 30
};

// A new, open, empty register list: the nine columns, unique keys on LogicalNb and CommPort,
// ascending by LogicalNb.
std::unique_ptr<CsvTable> MakeRegisterList();

// One row of the register list as the workers are built from it. An integer column without a
// value reads as nullopt.
struct RegisterEntry {
    std::optional<int> LogicalNb;
    std::string ModelType;
    std::optional<int> TranRate;
    std::optional<int> DataBits;
    std::string Parity;
    std::optional<int> StopBits;
    std::string CommPort;
    std::string Fiscal;
    std::string Observatii;
};

// The current row of a register list.
RegisterEntry ReadRegisterEntry(const CsvTable& list);

}  // namespace tallyport
