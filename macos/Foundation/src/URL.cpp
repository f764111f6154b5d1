#include "macos/Foundation/URL.hpp"

#include <QString>
#include <QUrl>

namespace ns {

std::optional<URL> URL::fromString(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Strict parsing refuses what the platform refuses: blanks, bad escapes, stray delimiters.
    QUrl url(qtext, QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    // Bytes that are not UTF-8 do not survive the round trip; the platform refuses them too.
    if (qtext.toUtf8() != QByteArray(text.data(), static_cast<qsizetype>(text.size()))) return std::nullopt;
    return URL(std::string(text), url.scheme().toLower().toStdString());
}

URL URL::fileURLWithPath(const std::string& path) {
    return URL(QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded).toStdString(), "file");
}

std::string URL::path() const {
    if (scheme_ != "file") return {};
    return QUrl(QString::fromStdString(text_)).toLocalFile().toStdString();
}

}  // namespace ns
