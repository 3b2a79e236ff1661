#include "shelltree/ShellNode.h"

#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/shell/ShellImages.h"
#include "shelltree/Pidl.h"

#include <QHash>

namespace plm {

namespace {

// Icons made from the image list, one per (image, selected image, overlay): thousands of
// nodes share a handful of them.
QIcon ComposedIcon(TSystemImageList &images, int image, int selected, int overlay) {
  static auto &cache = *new QHash<quint64, QIcon>; // kept until the process ends
  const quint64 key = (quint64(quint16(image)) << 32) | (quint64(quint16(selected)) << 16) |
                      quint16(overlay + 1);
  auto it = cache.constFind(key);
  if (it != cache.constEnd()) return *it;
  const QIcon normal = images.OverlaidIcon(image, overlay + 1);
  const QIcon chosen = selected == image ? normal : images.OverlaidIcon(selected, overlay + 1);
  QIcon icon;
  for (int size : {16, 22, 32}) {
    icon.addPixmap(normal.pixmap(size, size), QIcon::Normal);
    icon.addPixmap(chosen.pixmap(size, size), QIcon::Selected);
  }
  cache.insert(key, icon);
  return icon;
}

} // namespace

TShellnode::TShellnode(TShellnodeHost &owner)
    : QTreeWidgetItem(NodeType), fOwner(&owner), fMalloc(owner.Malloc()) {}

TShellnode::~TShellnode() {
  fDestroying = true;
  fOwner->NodeGoing(this);
  MonitorThread.reset(); // stops the monitor and waits for it, before anything else goes
  PidlFree(fMalloc.get(), Info.RelPidl);
  PidlFree(fMalloc.get(), Info.AbsPidl);
  Unbind();
  Info.ParentFolder.Reset();
}

TShellnode *TShellnode::ParentNode() const {
  QTreeWidgetItem *p = parent();
  return p && p->type() == NodeType ? static_cast<TShellnode *>(p) : nullptr;
}

TShellnode *TShellnode::Child(int i) const {
  QTreeWidgetItem *c = child(i);
  return c && c->type() == NodeType ? static_cast<TShellnode *>(c) : nullptr;
}

void TShellnode::AssignItem(IShellFolder *parentFolder, LPITEMIDLIST rel, bool recursive) {
  // The new absolute list first: when memory runs out nothing has changed yet.
  LPCITEMIDLIST item = rel ? rel : Info.RelPidl;
  TShellnode *parentNode = ParentNode();
  LPITEMIDLIST abs = parentNode ? PidlAppend(fMalloc.get(), parentNode, item)
                                : PidlCopy(fMalloc.get(), item);
  Info.ParentFolder = ComPtr<IShellFolder>(parentFolder);
  if (rel) {
    Unbind();
    if (rel != Info.RelPidl) PidlFree(fMalloc.get(), Info.RelPidl);
    Info.RelPidl = rel;
  }
  PidlFree(fMalloc.get(), Info.AbsPidl);
  Info.AbsPidl = abs;
  if (recursive) {
    for (int i = 0; i < Count(); ++i)
      if (TShellnode *c = Child(i)) c->AssignItem(GetFolder(), c->Info.RelPidl, true);
  }
}

IShellFolder *TShellnode::GetFolder() {
  if (Bound && !Info.Folder) Bound = false; // a failed bind is tried again
  if (!Bound) {
    Bound = true;
    if (PidlItemCount(Info.RelPidl) > 0) {
      if (Info.ParentFolder &&
          FAILED(Info.ParentFolder->BindToObject(Info.RelPidl, nullptr, IID_IShellFolder,
                                                 Info.Folder.put_void())))
        Info.Folder.Reset();
    } else {
      Info.Folder = Info.ParentFolder;
    }
  }
  return Info.Folder.get();
}

void TShellnode::Unbind() {
  Bound = false;
  Info.Folder.Reset();
}

void TShellnode::GetDisplayName(std::string &name) {
  name = DisplayNameOf(Info.ParentFolder.get(), Info.RelPidl,
                       ParentNode() ? SHGDN_NORMAL : SHGDN_FORPARSING);
}

void TShellnode::UpdateText() {
  std::string name;
  GetDisplayName(name);
  SetText(name);
}

void TShellnode::SetText(const std::string &text) {
  fText = text;
  setText(0, ToDisplay(text));
}

std::string TShellnode::NodePath() const { return PidlToPath(Info.AbsPidl); }

void TShellnode::UpdateIcons() {
  SHFILEINFOA sfi;
  // No icon (-1) when the shell cannot give one.
  int image = -1;
  if (SHGetFileInfoA(reinterpret_cast<const char *>(Info.AbsPidl), 0, &sfi, sizeof sfi,
                     SHGFI_SYSICONINDEX | SHGFI_PIDL))
    image = sfi.iIcon;
  int selected = image;
  if (HasAttributes(SFGAO_FOLDER)) {
    selected = -1;
    if (SHGetFileInfoA(reinterpret_cast<const char *>(Info.AbsPidl), 0, &sfi, sizeof sfi,
                       SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_OPENICON))
      selected = sfi.iIcon;
  }
  int overlay = -1;
  if (fOwner->ShowSharedOverlay() && HasAttributes(SFGAO_SHARE)) overlay = 0;
  else if (fOwner->ShowLinkOverlay() && HasAttributes(SFGAO_LINK)) overlay = 1;
  SetImages(image, selected, overlay);
}

void TShellnode::SetImages(int image, int selected, int overlay) {
  fImage = image;
  fSelected = selected;
  fOverlay = overlay;
  ApplyIcons();
}

void TShellnode::ApplyIcons() {
  TSystemImageList *images = fOwner->NodeImages();
  if (!images || fImage < 0) {
    setIcon(0, QIcon());
    return;
  }
  setIcon(0, ComposedIcon(*images, fImage, fSelected < 0 ? fImage : fSelected, fOverlay));
}

bool TShellnode::HasChildren() const {
  return childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

void TShellnode::SetHasChildren(bool on) {
  setChildIndicatorPolicy(on ? QTreeWidgetItem::ShowIndicator
                             : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool TShellnode::Rename(const std::string &newName) {
  if (newName == fText) return false;
  if (!Info.ParentFolder) return false;
  const std::u16string wide = WideFromBytes(newName);
  LPITEMIDLIST renamed = nullptr;
  if (Info.ParentFolder->SetNameOf(fOwner->ShellOwner(), Info.RelPidl, wide.c_str(),
                                   SHGDN_INFOLDER, &renamed) != S_OK) {
    PidlFree(fMalloc.get(), renamed);
    return false;
  }
  ComPtr<IShellFolder> parentFolder = Info.ParentFolder; // AssignItem replaces the reference
  AssignItem(parentFolder.get(), renamed, true);
  if (TShellnode *p = ParentNode()) fOwner->SortChildren(p, false);
  fOwner->NodeChanged(this);
  return true;
}

} // namespace plm
