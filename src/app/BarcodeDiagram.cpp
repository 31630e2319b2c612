#include "app/BarcodeDiagram.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace tallyport {

BarcodeDiagram::BarcodeDiagram(QWidget* parent) : QWidget(parent) {
    barcode_ = new QLabel(QStringLiteral("24 12345 12345 1"), this);
    barcode_->setObjectName(QStringLiteral("lBarcode"));
    QFont big = barcode_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    barcode_->setFont(big);
    barcode_->setAlignment(Qt::AlignCenter);

    const char* names[4] = {"Prefix", "Cod PLU", "Greutate", "CRC EAN"};
    auto* labels = new QHBoxLayout;
    labels->setSpacing(fontMetrics().averageCharWidth() * 2);
    for (int i = 0; i < 4; ++i) {
        partLabels_[i] = new QLabel(QString::fromLatin1(names[i]), this);
        partLabels_[i]->setAlignment(Qt::AlignCenter);
        labels->addWidget(partLabels_[i], 1);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(barcode_);
    layout->addSpacing(fontMetrics().height() * 2);
    layout->addLayout(labels);
}

void BarcodeDiagram::paintEvent(QPaintEvent*) {
    const QString text = barcode_->text();
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 4) {
        return;
    }
    const QFontMetrics fm(barcode_->font());
    const QRect box = barcode_->geometry();
    const int textLeft = box.left() + (box.width() - fm.horizontalAdvance(text)) / 2;
    const int baseline = box.top() + (box.height() + fm.ascent() - fm.descent()) / 2;
    const int bracketY = baseline + fm.descent() + 3;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1.0));
    int offset = 0;
    for (int i = 0; i < 4; ++i) {
        const int left = textLeft + fm.horizontalAdvance(text.left(offset));
        const int right = textLeft + fm.horizontalAdvance(text.left(offset + parts[i].size()));
        offset += parts[i].size() + 1;
        // A bracket under the part, and a line from its middle to the part's label.
        p.drawLine(left, bracketY - 3, left, bracketY);
        p.drawLine(left, bracketY, right, bracketY);
        p.drawLine(right, bracketY - 3, right, bracketY);
        const QRect label = partLabels_[i]->geometry();
        const QPoint from((left + right) / 2, bracketY);
        const QPoint to(label.center().x(), label.top() - 2);
        const int bend = (from.y() + to.y()) / 2;
        p.drawLine(from, QPoint(from.x(), bend));
        p.drawLine(QPoint(from.x(), bend), QPoint(to.x(), bend));
        p.drawLine(QPoint(to.x(), bend), to);
    }
}

}  // namespace tallyport
