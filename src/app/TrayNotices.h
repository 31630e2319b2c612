#pragma once

#include <QObject>
#include <QString>

#include "base/NoticeSink.h"

class QSystemTrayIcon;

namespace tallyport {

class ConsoleLog;

// The workers' notices as balloons of the tray icon. ShowNotice may be called from any thread:
// it only queues the notice to the user-interface thread and returns at once, so a worker never
// waits for the user interface. Without a notification area the notice goes to the log.
// Lives on the user-interface thread; the tray icon and the log are not owned.
class TrayNotices final : public QObject, public NoticeSink {
    Q_OBJECT
public:
    TrayNotices(QSystemTrayIcon& tray, ConsoleLog& log);

    void ShowNotice(const std::string& title, const std::string& text, int seconds,
                    NoticeIcon icon) override;

signals:
    // On the user-interface thread, when a notice has been shown.
    void NoticeShown(const QString& title, const QString& text, int milliseconds);

private:
    void Show(const QString& title, const QString& text, int seconds, NoticeIcon icon);

    QSystemTrayIcon& tray_;
    ConsoleLog& log_;
};

}  // namespace tallyport
