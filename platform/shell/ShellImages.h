#pragma once
// The system image list: one table of icons for the whole process, whose indices stay
// the same while it runs. Indices are handed out without a graphical application (by
// icon name); the icons themselves are made when first drawn.
#include "platform/shell/ShellApi.h"

#include <QIcon>
#include <QString>

#include <mutex>
#include <string>
#include <vector>

namespace plm {

class TSystemImageList {
public:
  // Overlay images drawn over an icon's lower left corner.
  static constexpr int OverlayShared = 1;
  static constexpr int OverlayLink = 2;

  static TSystemImageList &Instance();

  // The index of a theme icon, added on first use; fallback is the generic icon shown
  // when the theme has neither name.
  int IndexOf(const QString &iconName, const QString &genericName = {});
  int Count() const;
  QString IconName(int index) const;
  // The icon at index (a null icon for a bad index); needs a graphical application.
  QIcon Icon(int index) const;
  // The icon with overlay image 1 (shared) or 2 (link) drawn over it; 0 for none.
  QIcon OverlaidIcon(int index, int overlay) const;

private:
  TSystemImageList() = default;
  struct TEntry {
    QString Name, Generic;
    mutable QIcon Icon;
    mutable bool Made = false;
  };
  mutable std::mutex fMutex;
  std::vector<TEntry> fEntries;
};

} // namespace plm
