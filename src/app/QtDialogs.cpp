#include "app/QtDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/ByteText.h"
#include "app/FileFilter.h"

namespace tallyport {
namespace {

QString FromLocal(const std::string& text) {
    return ShownText(text);  // a message may quote a file's name or text
}

}  // namespace

QWidget* QtDialogs::Parent() const {
    return window_ && window_->isVisible() ? window_.data() : nullptr;
}

void QtDialogs::ShowMessage(MessageKind kind, const std::string& text) {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title = QStringLiteral("Informatie");
    if (kind == MessageKind::Warning) {
        icon = QMessageBox::Warning;
        title = QStringLiteral("Atentie");
    } else if (kind == MessageKind::Error) {
        icon = QMessageBox::Critical;
        title = QStringLiteral("Eroare");
    }
    QMessageBox box(icon, title, FromLocal(text), QMessageBox::Ok, Parent());
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    shown_ = &box;
    box.exec();
    shown_ = nullptr;
}

bool QtDialogs::Confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmare"), FromLocal(text),
                    QMessageBox::Yes | QMessageBox::No, Parent());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Da"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Nu"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    shown_ = &box;
    const int answer = box.exec();
    const bool dismissed = shown_ == nullptr;
    shown_ = nullptr;
    return answer == QMessageBox::Yes && !dismissed;
}

std::optional<std::string> QtDialogs::ChooseFile(const std::string& startDir) {
    QFileDialog dialog(Parent(), QString(), FromLocal(startDir),
                       QtFileFilter(QString::fromLatin1(kBackOfficeFileFilter)));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A back-office file may not exist yet: the program creates the output files.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

void QtDialogs::Log(const std::string& text) {
    log_.Line(text);
}

void QtDialogs::DismissMessage() {
    if (QMessageBox* box = shown_) {
        shown_ = nullptr;
        box->reject();
    }
}

}  // namespace tallyport
