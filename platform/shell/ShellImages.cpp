#include "platform/shell/ShellImages.h"

#include "platform/DisplayText.h"
#include "platform/Volumes.h"
#include "platform/shell/ShellItems.h"

#include <QFile>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>

#include <cstring>
#include <memory>

namespace plm {

namespace {

const QMimeDatabase &MimeDb() {
  static const QMimeDatabase db;
  return db;
}

// A plain drawing for when the icon theme has nothing: a folder or a page.
QIcon DrawnIcon(bool folder) {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    if (folder) {
      p.setPen(QPen(QColor(0x8a, 0x6d, 0x1f), u));
      p.setBrush(QColor(0xe8, 0xc1, 0x5a));
      p.drawRect(QRectF(1 * u, 4 * u, 14 * u, 10 * u));
      p.drawRect(QRectF(1 * u, 2.5 * u, 6 * u, 2 * u));
    } else {
      p.setPen(QPen(QColor(0x55, 0x55, 0x55), u));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(3 * u, 1 * u, 10 * u, 14 * u));
    }
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon OverlayEmblem(int overlay) {
  const QString name = overlay == TSystemImageList::OverlayShared ? "emblem-shared"
                                                                  : "emblem-symbolic-link";
  QIcon e = QIcon::fromTheme(name);
  if (!e.isNull()) return e;
  // A small arrow in a white box, like a shortcut mark; a hand-like dot for sharing.
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(0.5, 0.5, 15, 15));
  if (overlay == TSystemImageList::OverlayShared) {
    p.setBrush(QColor(0x2a, 0x6f, 0xd0));
    p.drawEllipse(QRectF(4, 4, 8, 8));
  } else {
    p.setPen(QPen(QColor(0x20, 0x4a, 0x87), 2));
    p.drawLine(QPointF(4, 12), QPointF(12, 4));
    p.drawLine(QPointF(7, 4), QPointF(12, 4));
    p.drawLine(QPointF(12, 4), QPointF(12, 9));
  }
  p.end();
  return QIcon(pm);
}

} // namespace

TSystemImageList &TSystemImageList::Instance() {
  static TSystemImageList *list = new TSystemImageList; // lives as long as the process
  return *list;
}

int TSystemImageList::IndexOf(const QString &iconName, const QString &genericName) {
  std::lock_guard lock(fMutex);
  for (size_t i = 0; i < fEntries.size(); ++i)
    if (fEntries[i].Name == iconName) return static_cast<int>(i);
  fEntries.push_back({iconName, genericName, {}, false});
  return static_cast<int>(fEntries.size() - 1);
}

int TSystemImageList::Count() const {
  std::lock_guard lock(fMutex);
  return static_cast<int>(fEntries.size());
}

QString TSystemImageList::IconName(int index) const {
  std::lock_guard lock(fMutex);
  return index >= 0 && index < static_cast<int>(fEntries.size()) ? fEntries[index].Name
                                                                 : QString();
}

QIcon TSystemImageList::Icon(int index) const {
  std::lock_guard lock(fMutex);
  if (index < 0 || index >= static_cast<int>(fEntries.size())) return {};
  const TEntry &e = fEntries[index];
  if (!e.Made) {
    e.Icon = QIcon::fromTheme(e.Name);
    if (e.Icon.isNull() && !e.Generic.isEmpty()) e.Icon = QIcon::fromTheme(e.Generic);
    if (e.Icon.isNull()) e.Icon = DrawnIcon(e.Name.startsWith("folder") || e.Name.startsWith("user-"));
    e.Made = true;
  }
  return e.Icon;
}

QIcon TSystemImageList::OverlaidIcon(int index, int overlay) const {
  const QIcon base = Icon(index);
  if (overlay != OverlayShared && overlay != OverlayLink) return base;
  const QIcon emblem = OverlayEmblem(overlay);
  QIcon out;
  for (int size : {16, 22, 32, 48}) {
    QPixmap pm = base.pixmap(size, size);
    if (pm.isNull()) continue;
    QPainter p(&pm);
    const int e = std::max(8, size / 2);
    p.drawPixmap(0, pm.height() - e, emblem.pixmap(e, e));
    p.end();
    out.addPixmap(pm);
  }
  return out;
}

uintptr_t SHGetFileInfoA(const char *pszPath, DWORD, SHFILEINFOA *psfi, UINT cbFileInfo,
                         UINT uFlags) {
  using namespace shellimpl;
  if (!pszPath || (psfi && cbFileInfo < sizeof(SHFILEINFOA))) return 0;
  std::vector<TItem> items;
  if (uFlags & SHGFI_PIDL) {
    if (!DecodeList(reinterpret_cast<LPCITEMIDLIST>(pszPath), items)) return 0;
  } else if (!PathToItems(pszPath, items)) {
    return 0;
  }
  const bool open = uFlags & SHGFI_OPENICON;
  const TItemKind kind = items.empty() ? TItemKind::Dir : items.back().Kind;
  const std::string name = items.empty() ? std::string() : items.back().Name;

  QString iconName, generic;
  if (items.empty()) {
    iconName = "user-desktop";
    generic = "folder";
  } else {
    switch (kind) {
    case TItemKind::Home: iconName = "user-home"; generic = "folder"; break;
    case TItemKind::Computer: iconName = "computer"; break;
    case TItemKind::Volume:
      switch (VolumeDriveType(name)) {
      case DRIVE_REMOVABLE: iconName = "drive-removable-media"; break;
      case DRIVE_CDROM: iconName = "media-optical"; break;
      case DRIVE_REMOTE: iconName = "network-server"; break;
      default: iconName = "drive-harddisk"; break;
      }
      break;
    case TItemKind::Dir: iconName = open ? "folder-open" : "folder"; generic = "folder"; break;
    case TItemKind::File: {
      const QMimeType t = MimeDb().mimeTypeForFile(ToDisplay(name), QMimeDatabase::MatchExtension);
      iconName = t.iconName();
      generic = t.genericIconName();
      break;
    }
    }
  }
  TSystemImageList &list = TSystemImageList::Instance();
  uintptr_t result = 1;
  if (psfi) {
    if (uFlags & SHGFI_SYSICONINDEX) psfi->iIcon = list.IndexOf(iconName, generic);
    if (uFlags & (SHGFI_DISPLAYNAME | SHGFI_ATTRIBUTES)) {
      // The desktop, asked for the item's name and attributes. Made only here: it reads
      // the user's folder settings, which an icon query (once per folder shown) need not.
      ComPtr<IShellFolder> desktop;
      SHGetDesktopFolder(desktop.put());
      const auto freeList = [](LPITEMIDLIST p) { ShellMalloc().Free(p); };
      const std::unique_ptr<uint8_t, decltype(freeList)> owned(MakeList(items), freeList);
      LPITEMIDLIST abs = owned.get();
      if (!abs) return 0;
      STRRET sr;
      std::string display;
      if ((uFlags & SHGFI_DISPLAYNAME) &&
          SUCCEEDED(desktop->GetDisplayNameOf(abs, SHGDN_NORMAL, &sr)) &&
          StrRetToString(sr, abs, display)) {
        const size_t n = std::min(display.size(), sizeof psfi->szDisplayName - 1);
        std::memcpy(psfi->szDisplayName, display.data(), n);
        psfi->szDisplayName[n] = 0;
      }
      if ((uFlags & SHGFI_ATTRIBUTES) && !items.empty()) {
        SFGAOF a = 0xFFFFFFFFu & ~SFGAO_VALIDATE;
        LPCITEMIDLIST one = abs;
        psfi->dwAttributes = SUCCEEDED(desktop->GetAttributesOf(1, &one, &a)) ? a : 0;
      }
    }
    if (uFlags & SHGFI_TYPENAME) {
      std::string type;
      if (kind == TItemKind::File) {
        type = MimeDb().mimeTypeForFile(ToDisplay(name), QMimeDatabase::MatchExtension)
                   .comment()
                   .toStdString();
      } else {
        type = items.empty() || kind == TItemKind::Dir || kind == TItemKind::Home ? "Dossier"
               : kind == TItemKind::Volume                                        ? "Volume"
                                                                                  : "Dossier système";
      }
      const size_t n = std::min(type.size(), sizeof psfi->szTypeName - 1);
      std::memcpy(psfi->szTypeName, type.data(), n);
      psfi->szTypeName[n] = 0;
    }
  }
  if (uFlags & SHGFI_SYSICONINDEX) result = reinterpret_cast<uintptr_t>(&list);
  return result;
}

} // namespace plm
