#include "app/ConnectorImages.h"

#include <QPainter>
#include <QPainterPath>

namespace tallyport {
namespace {

const QColor kBlue(0x1f, 0x4f, 0xc6);
const QColor kRed(0xd8, 0x1e, 0x1e);

// A plug on a 16-unit grid: cable from the lower left, the plug body, two pins to the upper
// right.
void DrawConnector(QPainter& p) {
    p.setPen(QPen(kBlue.darker(140), 0.8));
    p.setBrush(kBlue);
    QPainterPath cable;
    cable.moveTo(1.0, 15.0);
    cable.cubicTo(2.5, 12.0, 3.5, 11.5, 5.5, 10.5);
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kBlue, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.restore();

    // The body, tilted by 45 degrees around its centre.
    p.save();
    p.translate(8.0, 8.0);
    p.rotate(-45.0);
    p.drawRoundedRect(QRectF(-2.5, -3.5, 6.0, 7.0), 1.2, 1.2);
    p.setBrush(kBlue.lighter(150));
    p.drawRect(QRectF(3.5, -2.6, 1.5, 5.2));
    p.setPen(QPen(QColor(0x70, 0x70, 0x78), 1.3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(5.0, -1.5), QPointF(8.0, -1.5));
    p.drawLine(QPointF(5.0, 1.5), QPointF(8.0, 1.5));
    p.restore();
}

void DrawCross(QPainter& p) {
    // Thin enough to leave the connector recognisable under it.
    p.setPen(QPen(kRed, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.0, 3.0), QPointF(13.0, 13.0));
    p.drawLine(QPointF(13.0, 3.0), QPointF(3.0, 13.0));
}

}  // namespace

QPixmap ConnectorImage(int index, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    DrawConnector(p);
    if (index == kImageDisconnected) {
        DrawCross(p);
    }
    return pixmap;
}

QIcon ConnectorIcon(int index) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        icon.addPixmap(ConnectorImage(index, size));
    }
    return icon;
}

}  // namespace tallyport
