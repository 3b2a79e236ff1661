#include "platform/shell/ShellCollate.h"

#include "platform/DisplayText.h"

namespace plm::shellimpl {

QString PlainNameKey(const QString &name) {
  const QString folded = name.toCaseFolded();
  QString key;
  key.reserve(folded.size() + 4);
  qsizetype i = 0;
  const qsizetype n = folded.size();
  while (i < n) {
    const QChar c = folded[i];
    if (c < u'0' || c > u'9') {
      key.append(c);
      ++i;
      continue;
    }
    qsizetype j = i;
    while (j < n && folded[j] >= u'0' && folded[j] <= u'9') ++j;
    qsizetype s = i;
    while (s + 1 < j && folded[s] == u'0') ++s; // leading zeros do not count
    key.append(u'0');
    key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(j - s, 0xFFFF))));
    key.append(QStringView(folded).mid(s, j - s));
    i = j;
  }
  return key;
}

int TNameKey::Compare(const TNameKey &other) const {
  if (fCollated && other.fCollated) {
    const int r = fCollated->compare(*other.fCollated);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
  }
  const int r = fPlain.compare(other.fPlain);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

TNameCollator::TNameCollator(const QLocale &locale)
    : fLocale(locale), fPlain(locale.language() == QLocale::C), fCollator(locale) {
  fCollator.setCaseSensitivity(Qt::CaseInsensitive);
  fCollator.setNumericMode(true);
}

TNameKey TNameCollator::Key(std::string_view name) const {
  TNameKey k;
  const QString text = ToDisplay(name);
  if (fPlain) k.fPlain = PlainNameKey(text);
  else k.fCollated = fCollator.sortKey(text);
  return k;
}

} // namespace plm::shellimpl
