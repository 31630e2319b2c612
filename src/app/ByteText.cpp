#include "app/ByteText.h"

#include "control/DisplayText.h"

namespace tallyport {

QString ShownText(std::string_view bytes) {
    const std::string shown = DisplayText(bytes);
    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

std::string StoredText(const QString& shown, const std::string& original) {
    return StoredBytes(shown.toUtf8().toStdString(), original);
}

}  // namespace tallyport
