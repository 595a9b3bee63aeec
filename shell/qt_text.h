#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kestrix {

// Program and database texts are UTF-8.
inline QString toQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A message text: each CR LF inside it is shown as a line break.
inline QString messageToQt(std::string_view text) {
    QString result = toQt(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

inline std::string fromQt(const QString& text) {
    return text.toStdString();
}

}  // namespace kestrix
