#pragma once
// The order in which the desktop's file managers list names: locale-aware, without regard
// to case, digits compared by value ("lettre2" before "lettre10"). Keys are made once per
// name and compared many times.
#include <QCollator>
#include <QLocale>
#include <QString>

#include <optional>
#include <string_view>

namespace plm::shellimpl {

class TNameKey {
public:
  // -1, 0 or 1; equal keys still differ when their names' bytes do (see CompareNames).
  int Compare(const TNameKey &other) const;

private:
  friend class TNameCollator;
  std::optional<QCollatorSortKey> fCollated; // a real locale's key
  QString fPlain;                            // the C locale's key
};

class TNameCollator {
public:
  explicit TNameCollator(const QLocale &locale = QLocale());
  TNameKey Key(std::string_view name) const;
  const QLocale &Locale() const { return fLocale; }

private:
  QLocale fLocale;
  bool fPlain; // the C locale, where Qt's collator only compares code units
  QCollator fCollator;
};

// The C locale's key: case folded, each run of digits by value (a marker, the count of
// significant digits, the digits), so that byte order of keys gives the natural order.
QString PlainNameKey(const QString &name);

} // namespace plm::shellimpl
