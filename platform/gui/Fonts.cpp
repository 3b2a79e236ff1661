#include "platform/gui/Fonts.h"

#include "platform/DisplayText.h"

#include <QFontDatabase>
#include <QStringList>

namespace plm {

bool IsFontInstalled(std::string_view family) {
  if (family.empty()) return false;
  const QString wanted = ToDisplay(family);
  for (QString f : QFontDatabase::families()) {
    // Families offered by several foundries read "Name [Foundry]".
    if (const qsizetype b = f.indexOf(QLatin1String(" [")); b > 0 && f.endsWith(QLatin1Char(']')))
      f.truncate(b);
    if (f.compare(wanted, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

} // namespace plm
