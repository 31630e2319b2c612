#pragma once

#include <QWidget>

class QLabel;

namespace tallyport {

// The layout of a weighing-scale barcode: the sample code in `lBarcode`, with lines that lead
// from its four parts (prefix, PLU code, weight, check digit) to their labels.
class BarcodeDiagram final : public QWidget {
    Q_OBJECT
public:
    explicit BarcodeDiagram(QWidget* parent = nullptr);

    QLabel* Barcode() const { return barcode_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* barcode_;
    QLabel* partLabels_[4];
};

}  // namespace tallyport
