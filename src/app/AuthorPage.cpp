#include "app/AuthorPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "app/ConnectorImages.h"
#include "base/BuildInfo.h"

namespace tallyport {
namespace {

// A small drawing of a cash register with its receipt.
QPixmap RegisterPicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setPen(QPen(QColor(0x30, 0x30, 0x38), 1.2));
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawRect(QRectF(15, 3, 14, 14));  // receipt
    p.drawLine(QPointF(18, 7), QPointF(26, 7));
    p.drawLine(QPointF(18, 10), QPointF(26, 10));
    p.drawLine(QPointF(18, 13), QPointF(24, 13));
    p.setBrush(QColor(0x5a, 0x6a, 0x80));
    p.drawRoundedRect(QRectF(6, 16, 36, 22), 3, 3);  // body
    p.setBrush(QColor(0x9c, 0xe0, 0x9c));
    p.drawRect(QRectF(10, 19, 16, 6));  // display
    p.setBrush(QColor(0xe8, 0xe8, 0xe8));
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 4; ++col) {
            p.drawRect(QRectF(10 + col * 6, 28 + row * 4, 4, 2.6));
        }
    }
    p.setBrush(QColor(0x40, 0x48, 0x58));
    p.drawRect(QRectF(3, 38, 42, 6));  // drawer
    return pixmap;
}

}  // namespace

AuthorPage::AuthorPage(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    setPalette(pal);

    auto* register_ = new QLabel(this);
    register_->setPixmap(RegisterPicture(48));
    auto* link = new QLabel(this);
    link->setPixmap(ConnectorImage(kImageConnected, 48));

    auto* name = new QLabel(QString::fromLatin1(build_info::kProgramCaption), this);
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    name->setFont(bold);
    auto* about = new QLabel(
        QStringLiteral("Legatura online intre casele de marcat fiscale si calculatorul "
                       "magazinului.\nRaspunde cererilor de articole, verifica platile cu "
                       "cardul si scrie bonurile inchise in fisierele pentru BackOffice."),
        this);
    about->setWordWrap(true);
    auto* help = new QLabel(
        QStringLiteral("Instructiuni de folosire: butonul \"Help\" (ManualECR.htm)."), this);
    help->setWordWrap(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(register_, 0, 0, Qt::AlignTop);
    layout->addWidget(name, 0, 1, Qt::AlignVCenter);
    layout->addWidget(link, 1, 0, Qt::AlignTop);
    layout->addWidget(about, 1, 1);
    layout->addWidget(help, 2, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(3, 1);
    layout->setHorizontalSpacing(fontMetrics().averageCharWidth() * 2);
}

}  // namespace tallyport
