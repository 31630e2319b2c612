#include "store/CsvTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>
#include <optional>

#include "base/DecimalSeparator.h"
#include "base/NumberText.h"
#include "base/Utf8Text.h"
#include "store/KeyIndex.h"
#include "store/RowStore.h"
#include "store/StoreError.h"
#include "store/TableAccess.h"
#include "store/ValueText.h"

namespace tallyport {

namespace {

constexpr const char* kEmptyTable = "Cannot perform this operation on an empty table";
constexpr const char* kClosedTable = "Cannot perform this operation on a closed table";
constexpr const char* kChangePending = "A change of the table is pending: post or cancel it first";
constexpr const char* kNoChange = "The table is not being changed: append or edit a row first";
constexpr const char* kCommaRefused = "Eroare: Campul %s nu poate contine virgula!";
constexpr const char* kTooLongRefused = "Eroare: Campul %s poate avea cel mult %s caractere!";

// A value set on the row being changed, before it is posted.
struct PendingValue {
    bool null = true;
    std::string text;
    std::int32_t integer = 0;
    double real = 0;
    bool boolean = false;

    detail::Value View() const { return detail::Value{null, text, integer, real, boolean}; }
    static PendingValue Of(const detail::Value& v) {
        return PendingValue{v.null, std::string(v.text), v.integer, v.real, v.boolean};
    }
};

// A text that is not empty as a value of a column of `type`: the text itself for a text column,
// nothing when a number column cannot read it.
std::optional<detail::Value> ValueOfText(ColumnType type, std::string_view text) {
    detail::Value value;
    value.null = false;
    switch (type) {
        case ColumnType::Text:
            value.text = text;
            break;
        case ColumnType::Integer: {
            auto number = detail::ParseTableInteger(text);
            if (!number) {
                return std::nullopt;
            }
            value.integer = *number;
            break;
        }
        case ColumnType::Double: {
            auto number = detail::ParseTableDouble(text);
            if (!number) {
                return std::nullopt;
            }
            value.real = *number;
            break;
        }
        case ColumnType::Boolean:
            value.boolean = detail::ParseTableBoolean(text);
            break;
    }
    return value;
}

std::string_view UpToNul(std::string_view text) {
    std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

struct CsvTable::Impl {
    enum class State { Browse, Appending, Editing };

    struct Key {
        Key(std::size_t c, const ColumnDef& def) : column(c), index(def.type, def.width) {}
        std::size_t column;
        detail::KeyIndex index;
        bool duplicates = false;  // a failed load left equal values in the column
    };

    explicit Impl(std::vector<ColumnDef> defs) : columns(std::move(defs)), rows(columns) {}

    std::vector<ColumnDef> columns;
    detail::RowStore rows;
    std::vector<Key> keys;
    std::optional<std::size_t> orderColumn;

    // Positions to records. While `identity` holds, every record is a live row and the
    // position is the record number, so the vector stays empty (the article table never
    // needs it).
    std::vector<std::uint32_t> order;
    bool identity = true;
    mutable std::vector<std::uint32_t> rank;  // records to positions, rebuilt when needed
    mutable bool rankValid = false;

    std::size_t position = 0;
    bool eof = false;
    bool open = true;
    bool refuseCommas = false;
    std::vector<bool> refuseLongTexts;  // by column; empty: every column cuts

    State state = State::Browse;
    std::vector<PendingValue> pending;
    std::uint32_t editRow = detail::RowStore::kNoRow;

    mutable std::mutex mutex;

    std::size_t Count() const { return identity ? rows.Size() : order.size(); }
    std::uint32_t RowAt(std::size_t pos) const {
        return identity ? static_cast<std::uint32_t>(pos) : order[pos];
    }
    std::size_t PositionOf(std::uint32_t row) const;
    void MakeOrderExplicit();
    void OrderChanged() { rankValid = false; }
    bool RowLess(std::uint32_t a, std::uint32_t b) const;
    std::size_t SortedInsertPosition(std::uint32_t row) const;

    void RequireOpen() const;
    void RequireBrowse() const;
    void RequireChange() const;
    detail::Value Current(std::size_t column) const;
    const ColumnDef& Column(std::size_t column) const;
    detail::KeyImage KeyImageOf(const Key& key, std::uint32_t row) const {
        return key.index.ImageOfStored(rows.Get(row, key.column));
    }
    bool RebuildIndexes();
    void Clear();
    // The first row in the current order whose value in `column` is `value`. `cachePositions`
    // false keeps it free of writes (the readers that may run on several threads at once).
    std::optional<std::uint32_t> FindRow(std::size_t column, const detail::Value& value,
                                         bool cachePositions) const;
    std::size_t PositionWithoutCache(std::uint32_t row) const;
    // The value `text` stands for in `column`, as Locate and Find compare it: an empty text
    // stands for no value; nullopt when a number column cannot read it (no row holds it).
    std::optional<detail::Value> WantedValue(std::size_t column, std::string_view text) const;
    std::string Text(const detail::Value& value, std::size_t column, char decimalSeparator) const;
};

std::size_t CsvTable::Impl::PositionWithoutCache(std::uint32_t row) const {
    if (identity) {
        return row;
    }
    if (rankValid) {
        return rank[row];
    }
    return static_cast<std::size_t>(std::find(order.begin(), order.end(), row) - order.begin());
}

std::optional<detail::Value> CsvTable::Impl::WantedValue(std::size_t column,
                                                         std::string_view text) const {
    const ColumnDef& def = Column(column);
    if (text.empty()) {
        return detail::Value{};  // looks for a row without a value
    }
    return ValueOfText(def.type, text);
}

std::string CsvTable::Impl::Text(const detail::Value& value, std::size_t column,
                                 char decimalSeparator) const {
    if (value.null) {
        return {};
    }
    switch (columns[column].type) {
        case ColumnType::Text:
            return std::string(value.text);
        case ColumnType::Integer: {
            char buffer[16];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, value.integer);
            return std::string(buffer, result.ptr);
        }
        case ColumnType::Double:
            return FormatGeneral(value.real, decimalSeparator);
        case ColumnType::Boolean:
            return value.boolean ? "True" : "False";
    }
    return {};
}

std::size_t CsvTable::Impl::PositionOf(std::uint32_t row) const {
    if (identity) {
        return row;
    }
    if (!rankValid) {
        rank.assign(rows.Size(), detail::RowStore::kNoRow);
        for (std::size_t pos = 0; pos < order.size(); ++pos) {
            rank[order[pos]] = static_cast<std::uint32_t>(pos);
        }
        rankValid = true;
    }
    return rank[row];
}

void CsvTable::Impl::MakeOrderExplicit() {
    if (identity) {
        order.resize(rows.Size());
        std::iota(order.begin(), order.end(), 0u);
        identity = false;
        OrderChanged();
    }
}

bool CsvTable::Impl::RowLess(std::uint32_t a, std::uint32_t b) const {
    std::size_t c = *orderColumn;
    return detail::LessValue(columns[c].type, rows.Get(a, c), rows.Get(b, c));
}

std::size_t CsvTable::Impl::SortedInsertPosition(std::uint32_t row) const {
    // After every row with an equal or smaller value: equal values keep their arrival order.
    auto at = std::upper_bound(order.begin(), order.end(), row,
                               [this](std::uint32_t a, std::uint32_t b) { return RowLess(a, b); });
    return static_cast<std::size_t>(at - order.begin());
}

void CsvTable::Impl::RequireOpen() const {
    if (!open) {
        throw StoreError(kClosedTable);
    }
}

void CsvTable::Impl::RequireBrowse() const {
    RequireOpen();
    if (state != State::Browse) {
        throw StoreError(kChangePending);
    }
}

void CsvTable::Impl::RequireChange() const {
    if (state == State::Browse) {
        throw StoreError(kNoChange);
    }
}

const ColumnDef& CsvTable::Impl::Column(std::size_t column) const {
    if (column >= columns.size()) {
        throw StoreError("No field number " + std::to_string(column));
    }
    return columns[column];
}

detail::Value CsvTable::Impl::Current(std::size_t column) const {
    Column(column);
    if (state != State::Browse) {
        return pending[column].View();
    }
    if (Count() == 0) {
        return detail::Value{};
    }
    return rows.Get(RowAt(position), column);
}

bool CsvTable::Impl::RebuildIndexes() {
    bool anyDuplicates = false;
    std::size_t count = Count();
    for (Key& key : keys) {
        const ColumnType type = columns[key.column].type;
        const std::size_t column = key.column;
        key.duplicates = key.index.Build(
            count, [this](std::size_t pos) { return RowAt(pos); },
            [&](std::uint32_t row) { return key.index.ImageOfStored(rows.Get(row, column)); },
            [&](std::uint32_t a, std::uint32_t b) {
                return detail::SameValue(type, rows.Get(a, column), rows.Get(b, column));
            });
        anyDuplicates = anyDuplicates || key.duplicates;
    }
    return anyDuplicates;
}

void CsvTable::Impl::Clear() {
    rows.Clear();
    for (Key& key : keys) {
        key.index.Clear();
        key.duplicates = false;
    }
    order.clear();
    order.shrink_to_fit();
    identity = !orderColumn.has_value();
    rank.clear();
    rank.shrink_to_fit();
    rankValid = false;
    position = 0;
    eof = false;
    state = State::Browse;
    pending.clear();
    editRow = detail::RowStore::kNoRow;
}

std::optional<std::uint32_t> CsvTable::Impl::FindRow(std::size_t column, const detail::Value& value,
                                                     bool cachePositions) const {
    const ColumnType type = columns[column].type;
    for (const Key& key : keys) {
        if (key.column != column) {
            continue;
        }
        std::optional<std::uint32_t> best;
        std::size_t bestPosition = 0;
        key.index.Find(key.index.ImageOf(value), [&](std::uint32_t row) {
            if (!key.index.Exact() && !detail::SameValue(type, rows.Get(row, column), value)) {
                return false;
            }
            if (!key.duplicates) {
                best = row;
                return true;
            }
            // Equal values: the first in the order wins.
            std::size_t pos = cachePositions ? PositionOf(row) : PositionWithoutCache(row);
            if (!best || pos < bestPosition) {
                best = row;
                bestPosition = pos;
            }
            return false;
        });
        return best;
    }
    for (std::size_t pos = 0; pos < Count(); ++pos) {
        std::uint32_t row = RowAt(pos);
        if (detail::SameValue(type, rows.Get(row, column), value)) {
            return row;
        }
    }
    return std::nullopt;
}

CsvTable::CsvTable(std::vector<ColumnDef> columns, std::vector<std::string> uniqueKeyColumns,
                   std::string orderBy) {
    for (const ColumnDef& column : columns) {
        if (column.type == ColumnType::Text && column.width == 0) {
            throw StoreError("Text field '" + column.name + "' needs a width");
        }
    }
    impl_ = std::make_unique<Impl>(std::move(columns));
    for (const std::string& name : uniqueKeyColumns) {
        std::size_t column = ColumnIndex(name);
        impl_->keys.emplace_back(column, impl_->columns[column]);
    }
    if (!orderBy.empty()) {
        impl_->orderColumn = ColumnIndex(orderBy);
        impl_->identity = false;
    }
}

CsvTable::~CsvTable() = default;

const std::vector<ColumnDef>& CsvTable::Columns() const {
    return impl_->columns;
}

std::size_t CsvTable::ColumnIndex(std::string_view name) const {
    for (std::size_t c = 0; c < impl_->columns.size(); ++c) {
        if (impl_->columns[c].name == name) {
            return c;
        }
    }
    throw StoreError("Field '" + std::string(name) + "' not found");
}

void CsvTable::Open() {
    impl_->open = true;
}

void CsvTable::Close() {
    impl_->Clear();
    impl_->open = false;
}

bool CsvTable::IsOpen() const {
    return impl_->open;
}

void CsvTable::EmptyTable() {
    impl_->Clear();
}

std::size_t CsvTable::RowCount() const {
    return impl_->Count();
}

void CsvTable::First() {
    impl_->RequireBrowse();
    impl_->position = 0;
    impl_->eof = impl_->Count() == 0;
}

void CsvTable::Next() {
    impl_->RequireBrowse();
    if (impl_->position + 1 < impl_->Count()) {
        ++impl_->position;
    } else {
        impl_->eof = true;
    }
}

bool CsvTable::Eof() const {
    return impl_->eof || impl_->Count() == 0;
}

std::size_t CsvTable::Position() const {
    return impl_->position;
}

void CsvTable::MoveTo(std::size_t position) {
    impl_->RequireBrowse();
    if (position >= impl_->Count()) {
        throw StoreError("No row at position " + std::to_string(position));
    }
    impl_->position = position;
    impl_->eof = false;
}

bool CsvTable::Locate(std::size_t column, std::string_view value) {
    impl_->RequireBrowse();
    std::optional<detail::Value> wanted = impl_->WantedValue(column, value);
    if (!wanted) {
        return false;  // not a number: no row of a number column holds it
    }
    std::optional<std::uint32_t> row = impl_->FindRow(column, *wanted, true);
    if (!row) {
        return false;
    }
    impl_->position = impl_->PositionOf(*row);
    impl_->eof = false;
    return true;
}

std::optional<std::size_t> CsvTable::Find(std::size_t column, std::string_view value) const {
    std::optional<detail::Value> wanted = impl_->WantedValue(column, value);
    if (!wanted) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> row = impl_->FindRow(column, *wanted, false);
    if (!row) {
        return std::nullopt;
    }
    return impl_->PositionWithoutCache(*row);
}

std::string CsvTable::TextAt(std::size_t position, std::size_t column,
                             char decimalSeparator) const {
    impl_->Column(column);
    if (position >= impl_->Count()) {
        throw StoreError("No row at position " + std::to_string(position));
    }
    return impl_->Text(impl_->rows.Get(impl_->RowAt(position), column), column, decimalSeparator);
}

std::string CsvTable::AsText(std::size_t column) const {
    return AsText(column, RegionalDecimalSeparator());
}

std::string CsvTable::AsText(std::size_t column, char decimalSeparator) const {
    return impl_->Text(impl_->Current(column), column, decimalSeparator);
}

std::int32_t CsvTable::AsInteger(std::size_t column) const {
    detail::Value value = impl_->Current(column);
    const ColumnDef& def = impl_->columns[column];
    if (value.null) {
        return 0;
    }
    switch (def.type) {
        case ColumnType::Integer:
            return value.integer;
        case ColumnType::Double: {
            double rounded = std::round(value.real);
            if (rounded >= -2147483648.0 && rounded <= 2147483647.0) {
                return static_cast<std::int32_t>(rounded);
            }
            throw StoreError(detail::NotIntegerMessage(FormatGeneral(value.real, '.'), def.name));
        }
        case ColumnType::Boolean:
            return value.boolean ? 1 : 0;
        case ColumnType::Text:
            if (auto number = detail::ParseTableInteger(value.text)) {
                return *number;
            }
            throw StoreError(detail::NotIntegerMessage(value.text, def.name));
    }
    return 0;
}

double CsvTable::AsDouble(std::size_t column) const {
    detail::Value value = impl_->Current(column);
    const ColumnDef& def = impl_->columns[column];
    if (value.null) {
        return 0;
    }
    switch (def.type) {
        case ColumnType::Integer:
            return value.integer;
        case ColumnType::Double:
            return value.real;
        case ColumnType::Boolean:
            return value.boolean ? 1 : 0;
        case ColumnType::Text:
            if (auto number = detail::ParseTableDouble(value.text)) {
                return *number;
            }
            throw StoreError(detail::NotFloatMessage(value.text, def.name));
    }
    return 0;
}

bool CsvTable::AsBoolean(std::size_t column) const {
    detail::Value value = impl_->Current(column);
    if (value.null) {
        return false;
    }
    switch (impl_->columns[column].type) {
        case ColumnType::Integer:
            return value.integer != 0;
        case ColumnType::Double:
            return value.real != 0;
        case ColumnType::Boolean:
            return value.boolean;
        case ColumnType::Text:
            return detail::ParseTableBoolean(value.text);
    }
    return false;
}

bool CsvTable::IsNull(std::size_t column) const {
    return impl_->Current(column).null;
}

void CsvTable::Append() {
    impl_->RequireBrowse();
    impl_->pending.assign(impl_->columns.size(), PendingValue{});
    impl_->editRow = detail::RowStore::kNoRow;
    impl_->state = Impl::State::Appending;
}

void CsvTable::Edit() {
    impl_->RequireBrowse();
    if (impl_->Count() == 0) {
        throw StoreError(kEmptyTable);
    }
    std::uint32_t row = impl_->RowAt(impl_->position);
    impl_->pending.assign(impl_->columns.size(), PendingValue{});
    for (std::size_t c = 0; c < impl_->columns.size(); ++c) {
        impl_->pending[c] = PendingValue::Of(impl_->rows.Get(row, c));
    }
    impl_->editRow = row;
    impl_->state = Impl::State::Editing;
}

void CsvTable::SetFromText(std::size_t column, std::string_view text) {
    impl_->RequireChange();
    const ColumnDef& def = impl_->Column(column);
    PendingValue value;
    if (def.type == ColumnType::Text) {
        if (RefusesLongTexts(column) && UpToNul(text).size() > def.width) {
            throw StoreError(detail::FillIn(detail::FillIn(kTooLongRefused, def.name),
                                            std::to_string(def.width)));
        }
        std::string_view kept = CutToWidth(UpToNul(text), def.width);
        if (impl_->refuseCommas && kept.find(',') != std::string_view::npos) {
            throw StoreError(detail::FillIn(kCommaRefused, def.name));
        }
        value.null = kept.empty();
        value.text.assign(kept);
    } else if (!text.empty()) {
        std::optional<detail::Value> parsed = ValueOfText(def.type, text);
        if (!parsed) {
            throw StoreError(def.type == ColumnType::Integer
                                 ? detail::NotIntegerMessage(text, def.name)
                                 : detail::NotFloatMessage(text, def.name));
        }
        value = PendingValue::Of(*parsed);
    }
    impl_->pending[column] = std::move(value);
}

void CsvTable::SetNull(std::size_t column) {
    impl_->RequireChange();
    impl_->Column(column);
    impl_->pending[column] = PendingValue{};
}

void CsvTable::Post() {
    Impl& t = *impl_;
    t.RequireChange();
    const bool appending = t.state == Impl::State::Appending;

    // Refuse before anything changes, so that the pending row can still be fixed or dropped.
    for (const Impl::Key& key : t.keys) {
        const ColumnType type = t.columns[key.column].type;
        detail::Value wanted = t.pending[key.column].View();
        bool taken = key.index.Find(key.index.ImageOf(wanted), [&](std::uint32_t row) {
            return row != t.editRow &&
                   (key.index.Exact() ||
                    detail::SameValue(type, t.rows.Get(row, key.column), wanted));
        });
        if (taken) {
            throw StoreError(messages::kDuplicateKey);
        }
    }

    std::vector<detail::KeyImage> oldImages;
    if (!appending) {
        for (const Impl::Key& key : t.keys) {
            oldImages.push_back(t.KeyImageOf(key, t.editRow));
        }
    }
    bool orderValueChanged = false;
    if (!appending && t.orderColumn) {
        std::size_t c = *t.orderColumn;
        orderValueChanged =
            !detail::SameValue(t.columns[c].type, t.rows.Get(t.editRow, c), t.pending[c].View());
    }

    std::size_t textBytes = 0;
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        if (t.columns[c].type == ColumnType::Text && !t.rows.Slot(c).inlineText) {
            textBytes += t.pending[c].text.size();
        }
    }
    detail::RowStore::Writer writer =
        appending ? t.rows.NewRow(textBytes) : t.rows.Overwrite(t.editRow, textBytes);
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        writer.Set(c, t.pending[c].View());
    }
    std::uint32_t row = writer.Commit();

    for (std::size_t k = 0; k < t.keys.size(); ++k) {
        Impl::Key& key = t.keys[k];
        if (!appending) {
            key.index.Erase(row, oldImages[k]);
        }
        key.index.Insert(row, t.KeyImageOf(key, row));
    }

    if (appending) {
        if (!t.identity) {
            std::size_t at = t.orderColumn ? t.SortedInsertPosition(row) : t.order.size();
            t.order.insert(t.order.begin() + static_cast<std::ptrdiff_t>(at), row);
            t.OrderChanged();
        }
    } else if (orderValueChanged) {
        t.order.erase(t.order.begin() + static_cast<std::ptrdiff_t>(t.position));
        std::size_t at = t.SortedInsertPosition(row);
        t.order.insert(t.order.begin() + static_cast<std::ptrdiff_t>(at), row);
        t.OrderChanged();
    }

    t.state = Impl::State::Browse;
    t.pending.clear();
    t.editRow = detail::RowStore::kNoRow;
    t.position = t.PositionOf(row);
    t.eof = false;
}

void CsvTable::Cancel() {
    impl_->state = Impl::State::Browse;
    impl_->pending.clear();
    impl_->editRow = detail::RowStore::kNoRow;
}

bool CsvTable::Editing() const {
    return impl_->state != Impl::State::Browse;
}

void CsvTable::Delete() {
    Impl& t = *impl_;
    t.RequireBrowse();
    if (t.Count() == 0) {
        throw StoreError(kEmptyTable);
    }
    std::uint32_t row = t.RowAt(t.position);
    for (Impl::Key& key : t.keys) {
        key.index.Erase(row, t.KeyImageOf(key, row));
    }
    t.MakeOrderExplicit();
    t.order.erase(t.order.begin() + static_cast<std::ptrdiff_t>(t.position));
    t.OrderChanged();
    if (t.position >= t.order.size() && t.position > 0) {
        t.position = t.order.size() - 1;
    }
    t.eof = false;
}

void CsvTable::SetRefuseCommas(bool refuse) {
    impl_->refuseCommas = refuse;
}

bool CsvTable::RefusesCommas() const {
    return impl_->refuseCommas;
}

void CsvTable::SetRefuseLongTexts(std::size_t column) {
    impl_->Column(column);
    impl_->refuseLongTexts.resize(impl_->columns.size());
    impl_->refuseLongTexts[column] = true;
}

bool CsvTable::RefusesLongTexts(std::size_t column) const {
    return column < impl_->refuseLongTexts.size() && impl_->refuseLongTexts[column];
}

std::mutex& CsvTable::Mutex() const {
    return impl_->mutex;
}

// The file reader and writer.

void CsvTableAccess::CheckReadyForLoad(const CsvTable& table) {
    table.impl_->RequireBrowse();
}

detail::RowStore& CsvTableAccess::Rows(CsvTable& table) {
    return table.impl_->rows;
}

std::size_t CsvTableAccess::RowCount(const CsvTable& table) {
    return table.impl_->Count();
}

std::uint32_t CsvTableAccess::RowAt(const CsvTable& table, std::size_t position) {
    return table.impl_->RowAt(position);
}

bool CsvTableAccess::FinishLoad(CsvTable& table, std::uint32_t firstNewRecord) {
    CsvTable::Impl& t = *table.impl_;
    if (!t.identity) {
        for (std::uint32_t row = firstNewRecord; row < t.rows.Size(); ++row) {
            t.order.push_back(row);
        }
        if (t.orderColumn) {
            std::stable_sort(t.order.begin(), t.order.end(),
                             [&t](std::uint32_t a, std::uint32_t b) { return t.RowLess(a, b); });
        }
        t.OrderChanged();
    }
    t.position = 0;
    t.eof = t.Count() == 0;
    return t.RebuildIndexes();
}

}  // namespace tallyport
