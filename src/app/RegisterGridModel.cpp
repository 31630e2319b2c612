#include "app/RegisterGridModel.h"

#include <iterator>

namespace tallyport {
namespace {

static_assert(std::size(kRegisterGridTitles) == RegisterGridModel::kColumnCount);

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void RegisterGridModel::Reload(std::vector<RegisterGridRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    currentRow_ = rows_.empty() ? -1 : 0;
    endResetModel();
}

void RegisterGridModel::SetStatus(const std::vector<RegisterStatus>& status) {
    status_ = status;
    if (!rows_.empty()) {
        emit dataChanged(index(0, kStare), index(static_cast<int>(rows_.size()) - 1, kStare),
                         {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

void RegisterGridModel::SetCurrentRow(int row) {
    if (row == currentRow_) {
        return;
    }
    const int old = currentRow_;
    currentRow_ = row;
    if (old >= 0) {
        emit headerDataChanged(Qt::Vertical, old, old);
    }
    if (row >= 0) {
        emit headerDataChanged(Qt::Vertical, row, row);
    }
}

int RegisterGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RegisterGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant RegisterGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const RegisterGridRow& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ToolTipRole && index.column() == kStare) {
        return Text(GridRowStatusTip(row, status_));
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case kNrLogic:
            return Text(row.nrLogic);
        case kSerieFiscala:
            return Text(row.fiscal);
        case kPortComunicatie:
            return Text(row.port);
        case kModel:
            return Text(row.model);
        case kObservatii:
            return Text(row.remark);
        case kStare:
            return Text(GridRowStatus(row, status_));
        default:
            return {};
    }
}

QVariant RegisterGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Vertical) {
        return section == currentRow_ ? QStringLiteral("\u25B6") : QString();
    }
    if (section < 0 || section >= kColumnCount) {
        return {};
    }
    return QString::fromLatin1(kRegisterGridTitles[section]);
}

Qt::ItemFlags RegisterGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace tallyport
