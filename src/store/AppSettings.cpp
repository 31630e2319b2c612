#include "store/AppSettings.h"

#include <array>
#include <string_view>
#include <type_traits>
#include <variant>

#include "base/DecimalSeparator.h"
#include "base/NumberText.h"
#include "store/IniProfile.h"
#include "store/StoreError.h"

namespace tallyport {

AppSettingsRecord AppSettings;

namespace {

// The member a key fills; its type is the key's type.
using SettingField = std::variant<std::string AppSettingsRecord::*, double AppSettingsRecord::*,
                                  std::int32_t AppSettingsRecord::*, bool AppSettingsRecord::*>;
// The default, with the same alternative as the field (texts as views).
using SettingDefault = std::variant<std::string_view, double, std::int32_t, bool>;

struct SettingKey {
    std::string_view section;
    std::string_view key;
    SettingField field;
    SettingDefault fallback;
};

using R = AppSettingsRecord;

// In file order: a new file gets its sections in the order they first appear here.
constexpr auto kSettingKeys = std::to_array<SettingKey>({
    {"Files", "PLU", &R::PLU, std::string_view("PLU.txt")},
    {"Files", "ReceiptMaster", &R::ReceiptMaster, std::string_view("Bon.txt")},
    {"Files", "ReceiptDetail", &R::ReceiptDetail, std::string_view("Tran.txt")},
    {"Files", "Backup", &R::Backup, std::string_view("\\Backup\\")},
    {"Files", "ECRList", &R::ECRList, std::string_view("ECRs.dat")},
    {"CardOptions", "Min", &R::Min, 0.0},
    {"CardOptions", "Max", &R::Max, 100000000.0},
    {"Scale", "Prefix", &R::Prefix, std::int32_t{24}},
    {"Options", "RecDiscount", &R::RecDiscount, true},
    {"Options", "RecAmount", &R::RecAmount, true},
    {"Options", "RecSepFiles", &R::RecSepFiles, false},
    {"Options", "RecDecimals", &R::RecDecimals, false},
    {"Options", "ParallelLines", &R::ParallelLines, false},
});

constexpr bool DefaultsMatchFields() {
    for (const SettingKey& entry : kSettingKeys) {
        if (entry.field.index() != entry.fallback.index()) {
            return false;
        }
    }
    return true;
}
static_assert(DefaultsMatchFields(), "every default has the type of its field");

template <typename T>
using DefaultType = std::conditional_t<std::is_same_v<T, std::string>, std::string_view, T>;

constexpr IntegerSyntax kConfigIntegers{.hexPrefixes = true};

// Each reader gives the default for a value that is missing or not of its type.
std::string ReadValue(const std::string& path, const SettingKey& entry, std::string_view fallback) {
    return ReadProfileString(path, entry.section, entry.key, fallback);
}

std::int32_t ReadValue(const std::string& path, const SettingKey& entry, std::int32_t fallback) {
    std::string text = ReadProfileString(path, entry.section, entry.key, "");
    return ParseInteger(text, kConfigIntegers).value_or(fallback);
}

bool ReadValue(const std::string& path, const SettingKey& entry, bool fallback) {
    std::string text = ReadProfileString(path, entry.section, entry.key, "");
    std::optional<std::int32_t> number = ParseInteger(text, kConfigIntegers);
    return number ? *number != 0 : fallback;
}

double ReadValue(const std::string& path, const SettingKey& entry, double fallback) {
    std::string text = ReadProfileString(path, entry.section, entry.key, "");
    return ParseDouble(text, RegionalDecimalSeparator()).value_or(fallback);
}

std::string ValueText(const std::string& value) {
    return value;
}
std::string ValueText(std::int32_t value) {
    return std::to_string(value);
}
std::string ValueText(bool value) {
    return value ? "1" : "0";
}
std::string ValueText(double value) {
    return FormatGeneral(value, RegionalDecimalSeparator());
}

void LoadSetting(const std::string& path, const SettingKey& entry, R& settings) {
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(settings.*member)>;
            settings.*member = ReadValue(path, entry, std::get<DefaultType<T>>(entry.fallback));
        },
        entry.field);
}

void SaveSetting(const std::string& path, const SettingKey& entry, const R& settings) {
    std::visit(
        [&](auto member) {
            WriteProfileString(path, entry.section, entry.key, ValueText(settings.*member));
        },
        entry.field);
}

}  // namespace

bool LoadConfig(const std::string& path, AppSettingsRecord& settings, int* reason) {
    try {
        for (const SettingKey& entry : kSettingKeys) {
            LoadSetting(path, entry, settings);
        }
    } catch (const StoreError& error) {
        if (reason != nullptr) {
            *reason = error.Reason();
        }
        return true;
    } catch (...) {
        return true;
    }
    return false;
}

bool SaveConfig(const std::string& path, const AppSettingsRecord& settings, int* reason) {
    try {
        for (const SettingKey& entry : kSettingKeys) {
            SaveSetting(path, entry, settings);
        }
    } catch (const StoreError& error) {
        if (reason != nullptr) {
            *reason = error.Reason();
        }
        return true;
    } catch (...) {
        return true;
    }
    return false;
}

}  // namespace tallyport
