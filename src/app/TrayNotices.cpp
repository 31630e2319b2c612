#include "app/TrayNotices.h"

#include <QSystemTrayIcon>

#include "app/ByteText.h"
#include "control/ConsoleOutput.h"

namespace tallyport {
namespace {

constexpr int kTitleChars = 63;
constexpr int kTextChars = 255;

QSystemTrayIcon::MessageIcon TrayIconKind(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Information:
            return QSystemTrayIcon::Information;
        case NoticeIcon::Warning:
            return QSystemTrayIcon::Warning;
        case NoticeIcon::Error:
            return QSystemTrayIcon::Critical;
        case NoticeIcon::None:
            break;
    }
    return QSystemTrayIcon::NoIcon;
}

}  // namespace

TrayNotices::TrayNotices(QSystemTrayIcon& tray, ConsoleLog& log) : tray_(tray), log_(log) {}

void TrayNotices::ShowNotice(const std::string& title, const std::string& text, int seconds,
                             NoticeIcon icon) {
    const QString t = ShownText(title).left(kTitleChars);
    const QString x = ShownText(text).left(kTextChars);
    QMetaObject::invokeMethod(
        this, [this, t, x, seconds, icon] { Show(t, x, seconds, icon); }, Qt::QueuedConnection);
}

void TrayNotices::Show(const QString& title, const QString& text, int seconds, NoticeIcon icon) {
    const int milliseconds = seconds > 0 ? seconds * 1000 : 10000;
    if (QSystemTrayIcon::isSystemTrayAvailable() && tray_.isVisible()) {
        tray_.showMessage(title, text, TrayIconKind(icon), milliseconds);
    } else {
        log_.Line((title + QStringLiteral(": ") + text).toLocal8Bit().toStdString());
    }
    emit NoticeShown(title, text, milliseconds);
}

}  // namespace tallyport
