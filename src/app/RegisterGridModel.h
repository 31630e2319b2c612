#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "control/DesktopProgram.h"
#include "control/RegisterStatus.h"

namespace tallyport {

// The rows of the register list as the window's grid shows them: "Nr.Logic", "Serie Fiscala",
// "Port Comunicatie", "Model", "Observatii", read-only, with an indicator on the current row,
// and after them "Stare", the register's live status (its error, such as why the port does not
// open, as the cell's tip). Holds the rows given when the list was last read
// (DesktopSession::GridRows) and the last status given. User-interface thread only.
class RegisterGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        kNrLogic,
        kSerieFiscala,
        kPortComunicatie,
        kModel,
        kObservatii,
        kStare,
        kColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    // Shows `rows`, in their order, the first one current.
    void Reload(std::vector<RegisterGridRow> rows);
    void SetCurrentRow(int row);
    int CurrentRow() const { return currentRow_; }
    // The workers' status, matched to the rows by logical number; a row without a worker (added
    // after the start) shows none.
    void SetStatus(const std::vector<RegisterStatus>& status);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<RegisterGridRow> rows_;
    std::vector<RegisterStatus> status_;
    int currentRow_ = -1;
};

}  // namespace tallyport
