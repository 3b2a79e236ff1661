#include "platform/DisplayText.h"

#include "platform/Strings.h"

#include <QString>

namespace plm {

QString ToDisplay(std::string_view s) {
  const std::string utf8 = ToDisplayUtf8(s);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromDisplay(const QString &s) { return s.toStdString(); }

} // namespace plm
