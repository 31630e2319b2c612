#include "app/RegisterGridModel.h"

#include "app/ByteText.h"
#include "control/StatusText.h"

namespace tallyport {
namespace {

QString Text(const std::string& text) {
    return ShownText(text);
}

}  // namespace

void RegisterGridModel::Reload(CsvTable& list) {
    beginResetModel();
    rows_.clear();
    if (list.IsOpen()) {
        for (list.First(); !list.Eof(); list.Next()) {
            rows_.push_back(ReadRegisterEntry(list));
        }
        list.First();
    }
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
    const RegisterEntry& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ToolTipRole && index.column() == kStare) {
        return StatusTip(row);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case kNrLogic:
            return row.LogicalNb ? QString::number(*row.LogicalNb) : QString();
        case kSerieFiscala:
            return Text(row.Fiscal);
        case kPortComunicatie:
            return Text(row.CommPort);
        case kModel:
            return Text(row.ModelType);
        case kObservatii:
            return Text(row.Observatii);
        case kStare:
            return StatusText(row);
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
    switch (section) {
        case kNrLogic:
            return QStringLiteral("Nr.Logic");
        case kSerieFiscala:
            return QStringLiteral("Serie Fiscala");
        case kPortComunicatie:
            return QStringLiteral("Port Comunicatie");
        case kModel:
            return QStringLiteral("Model");
        case kObservatii:
            return QStringLiteral("Observatii");
        case kStare:
            return QStringLiteral("Stare");
        default:
            return {};
    }
}

QString RegisterGridModel::StatusText(const RegisterEntry& row) const {
    const RegisterStatus* status = StatusOf(row);
    return status ? QString::fromLocal8Bit(GridStatusText(*status)) : QString();
}

QString RegisterGridModel::StatusTip(const RegisterEntry& row) const {
    const RegisterStatus* status = StatusOf(row);
    return status ? QString::fromLocal8Bit(GridStatusTip(*status)) : QString();
}

const RegisterStatus* RegisterGridModel::StatusOf(const RegisterEntry& row) const {
    for (const RegisterStatus& status : status_) {
        if (row.LogicalNb && status.logicalNb == *row.LogicalNb) {
            return &status;
        }
    }
    return nullptr;
}

Qt::ItemFlags RegisterGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace tallyport
