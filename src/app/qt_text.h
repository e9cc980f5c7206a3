#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace tovrel::app {

// The program's text is 8-bit in the locale's encoding; Qt's is QString.
inline std::string ToText(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

inline QString FromText(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tovrel::app
