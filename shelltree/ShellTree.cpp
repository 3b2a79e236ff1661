#include "shelltree/ShellTree.h"

#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/ErrorReport.h"
#include "shelltree/ItemProp.h"
#include "shelltree/PathMask.h"
#include "shelltree/Pidl.h"

#include <QContextMenuEvent>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QWheelEvent>

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace plm {

namespace {

constexpr SFGAOF kChildAttributes = SFGAO_CAPABILITYMASK | SFGAO_LINK | SFGAO_SHARE |
                                    SFGAO_HIDDEN | SFGAO_REMOVABLE | SFGAO_COMPRESSED |
                                    SFGAO_FILESYSANCESTOR | SFGAO_FOLDER | SFGAO_FILESYSTEM |
                                    SFGAO_HASSUBFOLDER;
static_assert(kChildAttributes == 0xF60B0177);

// The root of a tree whose location cannot be resolved at all.
constexpr const char *kFallbackRootDir = "/";

uint16_t ItemSizeAt(LPCITEMIDLIST p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The nodes this tree makes: shell nodes that sort with the tree's comparison routine.
class TTreeNode final : public TShellnode {
public:
  using TShellnode::TShellnode;
  bool operator<(const QTreeWidgetItem &other) const override {
    if (other.type() != NodeType) return false;
    auto &tree = static_cast<TShellTree &>(Owner());
    auto *self = const_cast<TTreeNode *>(this);
    auto *that = static_cast<TShellnode *>(const_cast<QTreeWidgetItem *>(&other));
    return tree.CompareProc(self, that, tree.SortCallerValue()) < 0;
  }
  // An icon given again unchanged is no change: the view is not told, which spares it a
  // search for the item's row (its remembered row is stale after a sort).
  void setData(int column, int role, const QVariant &value) override {
    if (role == Qt::DecorationRole && value.userType() == QMetaType::QIcon) {
      const QVariant old = data(column, role);
      if (old.userType() == QMetaType::QIcon &&
          qvariant_cast<QIcon>(old).cacheKey() == qvariant_cast<QIcon>(value).cacheKey())
        return;
    }
    TShellnode::setData(column, role, value);
  }
};

TShellnode *AsNode(QTreeWidgetItem *item) {
  return item && item->type() == TShellnode::NodeType ? static_cast<TShellnode *>(item) : nullptr;
}

// An identifier list that is freed unless someone takes it over.
class TOwnedPidl {
public:
  TOwnedPidl(IMalloc *malloc, LPITEMIDLIST list) : fMalloc(malloc), fList(list) {}
  ~TOwnedPidl() { PidlFree(fMalloc, fList); }
  TOwnedPidl(const TOwnedPidl &) = delete;
  TOwnedPidl &operator=(const TOwnedPidl &) = delete;
  LPITEMIDLIST get() const { return fList; }
  LPITEMIDLIST release() { return std::exchange(fList, nullptr); }

private:
  IMalloc *fMalloc;
  LPITEMIDLIST fList;
};

} // namespace

int CsidlOf(TPidls root) {
  static constexpr int csidl[] = {
      CSIDL_DESKTOP,   CSIDL_PROGRAMS,  CSIDL_CONTROLS,  CSIDL_PRINTERS,  CSIDL_PERSONAL,
      CSIDL_FAVORITES, CSIDL_STARTUP,   CSIDL_RECENT,    CSIDL_SENDTO,    CSIDL_BITBUCKET,
      CSIDL_STARTMENU, CSIDL_DESKTOPDIRECTORY, CSIDL_DRIVES, CSIDL_NETWORK, CSIDL_NETHOOD,
      CSIDL_FONTS,     CSIDL_TEMPLATES};
  return root >= PIDL_DESKTOP && root < PIDL_USERDEFINED ? csidl[root] : -1;
}

// Children of one node by the bytes of their item, so that a refresh finds the node of
// each enumerated item without scanning all children.
class TShellTree::TChildIndex {
public:
  explicit TChildIndex(TShellnode *parent) {
    fMap.reserve(size_t(parent->Count()));
    for (int i = 0; i < parent->Count(); ++i)
      if (TShellnode *c = parent->Child(i)) fMap[Hash(c->Info.RelPidl)].push_back(c);
  }
  // The first child not yet found whose item equals item; it is marked as found.
  TShellnode *Take(LPCITEMIDLIST item) {
    auto it = fMap.find(Hash(item));
    if (it == fMap.end()) return nullptr;
    for (TShellnode *c : it->second)
      if (!c->Info.Kept && PidlSameItem(0, item, c->Info.RelPidl)) {
        c->Info.Kept = true;
        return c;
      }
    return nullptr;
  }

private:
  // The bytes of the first item. Lists here come from the shell's enumerator and parser,
  // which size their items truly; PidlSameItem decides equality within bounds anyway.
  static size_t Hash(LPCITEMIDLIST item) {
    if (!item) return 0;
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char *>(item), ItemSizeAt(item)));
  }
  std::unordered_map<size_t, std::vector<TShellnode *>> fMap;
};

// Ends an in-place edit through the tree's rename rules instead of writing the model.
class TShellTree::TEditDelegate : public QStyledItemDelegate {
public:
  explicit TEditDelegate(TShellTree *tree) : QStyledItemDelegate(tree), fTree(tree) {}
  void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const override {
    auto *edit = qobject_cast<QLineEdit *>(editor);
    TShellnode *node = AsNode(fTree->itemFromIndex(index));
    if (!edit) return;
    const std::string text = FromDisplay(edit->text());
    GuardCall([&] { fTree->EditEnded(node, text); }, fTree);
  }

private:
  TShellTree *fTree;
};

TShellTree::TShellTree(QWidget *parent) : QTreeWidget(parent), CompareProc(&CompareNodes) {
  fDeviceWindow = new TDeviceWindow([this](TMessage &m) { DeviceWindowProc(m); }, this);
  fDeviceWindow->setObjectName(QStringLiteral("DeviceWindow"));
  if (FAILED(SHGetMalloc(fMalloc.put())) || !fMalloc ||
      FAILED(SHGetDesktopFolder(fDesktopFolder.put())) || !fDesktopFolder)
    throw EOutOfMemory("Mémoire insuffisante");

  resize(170, 270);
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  setItemDelegate(new TEditDelegate(this));

  fMonitorStarter.setInterval(0);
  connect(&fMonitorStarter, &QTimer::timeout, this,
          [this] { GuardCall([this] { StartQueuedMonitors(); }, this); });
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
    if (fDestroying) return;
    if (OnChange) OnChange(this, AsNode(current));
  });
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *item) {
    TShellnode *node = AsNode(item);
    if (fDestroying || !node || node == fExpanding) return;
    // Opened by the user: the check runs now, and a refusal closes the node again.
    GuardCall(
        [&] {
          if (!CanExpand(node)) collapseItem(node);
        },
        this);
  });
}

TShellTree::~TShellTree() {
  fDestroying = true;
  fMonitorStarter.stop();
  fMonitorQueue.clear();
  fMonitorQueued.clear();
  delete fDeviceWindow;
  fDeviceWindow = nullptr;
  fMasks.clear();
  PidlFree(fMalloc.get(), fDesktopPidl);
  PidlFree(fMalloc.get(), fUserRootPidl);
  PidlFree(fMalloc.get(), fDrivesPidl);
  fDrivesFolder.Reset();
  fDesktopFolder.Reset();
  ClearNodes(); // each node frees its lists and stops its monitor
  fMalloc.Reset();
}

// ---- window, loading, rebuilding -------------------------------------------------------

void TShellTree::HandleNeeded() {
  if (!fHandle) CreateWnd();
}

void TShellTree::CreateWnd() {
  fHandle = true;
  InitSpecialFolders();
  UpdateOwnerWindow();
  Rebuild(0);
  // A path assigned before the window existed is selected in the tree just built.
  if (!fPendingPath.empty()) {
    const std::string p = std::exchange(fPendingPath, std::string());
    setPath(p);
  }
}

void TShellTree::Loaded() { HandleNeeded(); }

void TShellTree::InitSpecialFolders() {
  PidlFree(fMalloc.get(), fDesktopPidl);
  PidlFree(fMalloc.get(), fDrivesPidl);
  if (FAILED(SHGetSpecialFolderLocation(this, CSIDL_DESKTOP, &fDesktopPidl))) fDesktopPidl = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(this, CSIDL_DRIVES, &fDrivesPidl))) fDrivesPidl = nullptr;
  fDrivesFolder.Reset();
  if (fDrivesPidl &&
      FAILED(fDesktopFolder->BindToObject(fDrivesPidl, nullptr, IID_IShellFolder,
                                          fDrivesFolder.put_void())))
    fDrivesFolder.Reset();
  SetUserRootPidl(fDesktopPidl);
}

void TShellTree::UpdateOwnerWindow() {
  QWidget *form = window();
  OwnerWindow = form ? form : parentWidget() ? parentWidget() : this;
}

void TShellTree::BeginUpdate() {
  if (fUpdating++ == 0) setUpdatesEnabled(false);
}

void TShellTree::EndUpdate() {
  if (fUpdating > 0 && --fUpdating == 0) setUpdatesEnabled(true);
}

void TShellTree::ClearNodes() {
  fRootNode = nullptr;
  clear();
}

void TShellTree::Rebuild(int mode) {
  HandleNeeded(); // the first rebuild sets the window up, which builds the tree
  BeginUpdate();
  struct TEnd {
    TShellTree *t;
    ~TEnd() { t->EndUpdate(); }
  } end{this};
  if (!fImagesReady) {
    InitImageList();
    fImagesReady = true;
  }
  const std::string path = Path();
  const std::string rootDir = fRootDir;
  ClearNodes();
  BuildRoot();
  if (mode == 2) setPath(path);
  if (rootDir.size() > 1 && mode != 2) setRootDir(rootDir);
}

void TShellTree::InitImageList() {
  LPITEMIDLIST desktop = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(ShellOwner(), CSIDL_DESKTOP, &desktop))) desktop = nullptr;
  SHFILEINFOA sfi;
  fSystemImages = reinterpret_cast<TSystemImageList *>(
      SHGetFileInfoA(reinterpret_cast<const char *>(desktop), 0, &sfi, sizeof sfi,
                     SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON));
  PidlFree(fMalloc.get(), desktop);
  if (fShowIcons) AttachImages();
}

void TShellTree::AttachImages() {
  for (QTreeWidgetItemIterator it(this); *it; ++it)
    if (TShellnode *n = AsNode(*it)) n->ApplyIcons();
}

void TShellTree::BuildRoot() {
  LPITEMIDLIST list = nullptr;
  if (fRootUsePIDL) {
    if (fRootPIDL == PIDL_USERDEFINED) {
      list = PidlCopy(fMalloc.get(), fUserRootPidl);
    } else if (FAILED(SHGetSpecialFolderLocation(ShellOwner(), CsidlOf(fRootPIDL), &list)) ||
               !list) {
      list = nullptr;
      if (FAILED(SHGetSpecialFolderLocation(ShellOwner(), CSIDL_DESKTOP, &list))) list = nullptr;
    }
  } else {
    list = ParsePath(fDesktopFolder.get(), fRootDir, true);
    if (!list) list = ParsePath(fDesktopFolder.get(), kFallbackRootDir, true);
  }
  AddRoot(list);
}

void TShellTree::AddRoot(LPITEMIDLIST list) {
  TOwnedPidl owned(fMalloc.get(), list);
  fRootNode = nullptr;
  TShellnode *node = NewNode();
  addTopLevelItem(node);
  node->AssignItem(fDesktopFolder.get(), owned.release(), false);
  node->UpdateText();
  node->SetHasChildren(true);
  node->UpdateIcons();
  fExpandReady = true;
  Expand(node);
  // Monitors start for folders that receive children; an empty root must be watched
  // too, or nothing made in it would ever show.
  if (node->Count() == 0) StartMonitor(node);
  setSelected(node);
  fRootNode = node;
  if (!fRootUsePIDL) fRootDir = PidlToPath(node->Info.RelPidl);
}

TShellnode *TShellTree::NewNode() {
  auto *node = new TTreeNode(*this);
  node->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable);
  return node;
}

// ---- properties -----------------------------------------------------------------------

void TShellTree::SetAndRefresh(bool &field, bool v) {
  if (v == field) return;
  field = v;
  RefreshAll();
}

void TShellTree::setShowVirtualFolders(bool v) { SetAndRefresh(fShowVirtualFolders, v); }
void TShellTree::setShowSharedOverlay(bool v) { SetAndRefresh(fShowSharedOverlay, v); }
void TShellTree::setShowLinkOverlay(bool v) { SetAndRefresh(fShowLinkOverlay, v); }

void TShellTree::setRootUsePIDL(bool v) {
  if (v == fRootUsePIDL) return;
  fRootUsePIDL = v;
  if (fHandle) Rebuild(0);
}

void TShellTree::setRootPIDL(TPidls v) {
  if (v == fRootPIDL) return;
  fRootPIDL = v;
  if (fHandle && fRootUsePIDL) Rebuild(1);
}

void TShellTree::setRootDir(const std::string &v) {
  const std::string dir = NormalizePath(v);
  if (dir.empty() || dir == fRootDir) return;
  fRootDir = dir;
  if (fHandle && !fRootUsePIDL) Rebuild(2);
}

void TShellTree::setOptions(TVisOptions v) {
  uint32_t filter = FILE_NOTIFY_CHANGE_ATTRIBUTES;
  if (v & TF_FOLDERS) filter |= FILE_NOTIFY_CHANGE_DIR_NAME;
  if (v & TF_NONFOLDERS) filter |= FILE_NOTIFY_CHANGE_FILE_NAME;
  if (filter != fMonitorFilter) {
    fMonitorFilter = filter;
    PropagateFilter();
  }
  if (v == fOptions) return;
  fOptions = v;
  if (fHandle) RefreshAll();
}

void TShellTree::setShowIcons(bool v) {
  if (v == fShowIcons) return;
  fShowIcons = v;
  AttachImages();
}

std::string TShellTree::FileMask() const {
  std::string out;
  for (size_t i = 0; i < fMasks.size(); ++i)
    out += (i ? ";" : "") + fMasks[i];
  return out;
}

void TShellTree::setFileMask(const std::string &v) {
  std::string value = Trim(v).empty() ? std::string("*.*") : v;
  fMasks.clear();
  size_t start = 0;
  for (;;) {
    const size_t semi = value.find(';', start);
    const std::string piece =
        Trim(std::string_view(value).substr(start, semi == std::string::npos ? semi : semi - start));
    if (!piece.empty()) fMasks.push_back(piece);
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  if (fOptions & TF_NONFOLDERS) RefreshAll();
}

void TShellTree::setFileMaskUse(bool v) {
  if (v == fFileMaskUse) return;
  fFileMaskUse = v;
  if (fOptions & TF_NONFOLDERS) RefreshAll();
}

void TShellTree::setFileSortType(TFileSortType v) {
  if (v == fFileSortType) return;
  fFileSortType = v;
  SortChildren(fRootNode, true);
}

void TShellTree::setFileSortOrder(TFileSortOrder v) {
  if (v == fFileSortOrder) return;
  fFileSortOrder = v;
  SortChildren(fRootNode, true);
}

void TShellTree::setPopupMenu(QMenu *menu) { fPopupMenu = menu; }

// ---- selection and paths ---------------------------------------------------------------

TShellnode *TShellTree::Selected() const { return AsNode(currentItem()); }

void TShellTree::setSelected(TShellnode *node) {
  setCurrentItem(node);
  if (node) node->setSelected(true);
}

TShellnode *TShellTree::GetNodeAt(const QPoint &pos) const { return AsNode(itemAt(pos)); }

std::string TShellTree::Path() const {
  const TShellnode *node = Selected();
  return node ? node->NodePath() : std::string();
}

void TShellTree::setPath(const std::string &value) {
  const std::string v = NormalizePath(value);
  if (v.empty()) {
    if (!fRootNode) return;
    setSelected(fRootNode);
  }
  if (v == Path()) return;
  if (fHandle)
    SelectPath(v);
  else
    fPendingPath = v;
}

LPITEMIDLIST TShellTree::ParsePath(IShellFolder *folder, const std::string &text, bool normalize) {
  const std::string t = normalize ? NormalizePath(text) : text;
  if (t.empty() || !folder) return nullptr;
  const std::u16string wide = WideFromBytes(t);
  ULONG eaten = 0;
  ULONG attrs = SFGAO_VALIDATE;
  LPITEMIDLIST list = nullptr;
  if (folder->ParseDisplayName(ShellOwner(), nullptr, wide.c_str(), &eaten, &list, &attrs) != S_OK) {
    PidlFree(fMalloc.get(), list);
    return nullptr;
  }
  return list;
}

void TShellTree::SelectPath(const std::string &p) {
  TOwnedPidl list(fMalloc.get(), ParsePath(fDesktopFolder.get(), p, true));
  if (!list.get()) return;
  BeginUpdate();
  TShellnode *node = nullptr;
  try {
    node = FindNode(list.get(), true);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  if (node) {
    Expand(node);
    setSelected(node);
  }
}

TShellnode *TShellTree::FindNode(LPITEMIDLIST list, bool expand) {
  if (!fRootNode || !list) return nullptr;
  const int n = PidlItemCount(list);
  const int k = PidlItemCount(fRootNode->Info.AbsPidl);
  if (n == k && fDesktopFolder->CompareIDs(0, list, fRootNode->Info.AbsPidl) == 0)
    return fRootNode;
  if (k >= n) return nullptr;

  // The first k items are the root's. The item being looked for is cut off from the rest
  // of the list by a temporary terminator, put back before moving on.
  uint8_t *cur = list;
  for (int i = 0; i < k; ++i)
    cur += ItemSizeAt(cur);
  uint8_t *next = cur + ItemSizeAt(cur);
  uint8_t covered[2] = {next[0], next[1]};
  auto cut = [&] {
    next = cur + ItemSizeAt(cur);
    covered[0] = next[0];
    covered[1] = next[1];
    next[0] = next[1] = 0;
  };
  auto restore = [&] {
    next[0] = covered[0];
    next[1] = covered[1];
  };
  cut();

  TShellnode *node = fRootNode;
  int i = 0;
  bool reread = false;
  for (;;) {
    if (i >= node->Count()) {
      // An open folder read before the item was made does not show it yet: when opening
      // is allowed, the folder is read once more before the walk gives up.
      if (!expand || reread) break;
      reread = true;
      RefreshNode(node, false);
      i = 0;
      continue;
    }
    TShellnode *child = node->Child(i);
    IShellFolder *folder = node->GetFolder();
    if (!child || !folder || folder->CompareIDs(0, cur, child->Info.RelPidl) != 0) {
      ++i;
      continue;
    }
    node = child;
    restore();
    cur = next;
    if (ItemSizeAt(cur) == 0) return node; // every item matched
    if (expand && !node->isExpanded()) Expand(node);
    cut();
    i = 0;
    reread = false;
    if (!node->isExpanded()) {
      restore();
      return nullptr;
    }
  }
  restore();
  return node; // the deepest node matched: an item is missing among its children
}

void TShellTree::SetUserRootPidl(LPCITEMIDLIST list) {
  if (!list) list = fDesktopPidl;
  if (fUserRootPidl && list && fDesktopFolder->CompareIDs(0, list, fUserRootPidl) == 0) return;
  PidlFree(fMalloc.get(), fUserRootPidl);
  fUserRootPidl = PidlCopy(fMalloc.get(), list);
  if (fRootPIDL == PIDL_USERDEFINED && fRootUsePIDL) Rebuild(1);
}

// ---- expansion and refresh -------------------------------------------------------------

bool TShellTree::Expand(TShellnode *node) {
  if (!node) return false;
  if (node->isExpanded()) return true;
  if (!CanExpand(node)) return false;
  fExpanding = node;
  node->setExpanded(true);
  fExpanding = nullptr;
  return node->isExpanded();
}

bool TShellTree::CanExpand(TShellnode *node) {
  bool allow = fExpandReady;
  if (OnExpanding) OnExpanding(this, node, allow);
  if (allow && (UpdAuto || !node->Info.Enumerated)) {
    RefreshNode(node, UpdAutoRec);
    node->Info.Enumerated = true;
  }
  return allow;
}

void TShellTree::RefreshAll() {
  if (!fRootNode) return;
  BeginUpdate();
  try {
    RefreshNode(fRootNode, true);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TShellTree::RefreshNode(TShellnode *node, bool recursive) {
  if (!node) return;
  RefreshChildren(node, true);
  if (!recursive) return;
  for (int i = 0; i < node->Count(); ++i) {
    TShellnode *child = node->Child(i);
    if (!child) continue;
    if (child->Count() > 0 && child->isExpanded())
      RefreshNode(child, true);
    else
      child->Info.Enumerated = false;
  }
}

void TShellTree::RefreshChildren(TShellnode *node, bool all) {
  IShellFolder *f = node ? node->GetFolder() : nullptr;
  if (!f) return;
  BeginUpdate();
  struct TEnd {
    TShellTree *t;
    ~TEnd() { t->EndUpdate(); }
  } end{this};
  TBusyCursor busy;
  ComPtr<IEnumIDList> items;

  SHCONTF flags = SHCONTF(fOptions) << 5;
  if (!node->Info.RelPidl) flags |= SHCONTF_FOLDERS;
  for (int i = 0; i < node->Count(); ++i)
    if (TShellnode *c = node->Child(i)) c->Info.Kept = false;
  TChildIndex index(node);

  if (f->EnumObjects(ShellOwner(), flags, items.put()) == S_OK && items) {
    items->Reset();
    for (;;) {
      LPITEMIDLIST item = nullptr;
      ULONG fetched = 0;
      if (items->Next(1, &item, &fetched) != S_OK || fetched > 1 || !item) {
        PidlFree(fMalloc.get(), item);
        break;
      }
      if (AddOrUpdateChild(node, item, index) && !all) break;
    }
  }

  for (int i = node->Count() - 1; i >= 0; --i) {
    TShellnode *c = node->Child(i);
    if (c && !c->Info.Kept) DeleteChild(node, i);
  }
  node->SetHasChildren(node->Count() > 0);
  SortChildren(node, false);
}

bool TShellTree::AddOrUpdateChild(TShellnode *parent, LPITEMIDLIST item, TChildIndex &index) {
  TOwnedPidl owned(fMalloc.get(), item);
  bool accept = true;
  IShellFolder *f = parent->GetFolder();
  TShellnode *existing = index.Take(item);

  SFGAOF attrs = kChildAttributes;
  LPCITEMIDLIST one[] = {item};
  if (!f || FAILED(f->GetAttributesOf(1, one, &attrs))) attrs = 0;
  if (!fShowVirtualFolders && !(attrs & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR))) accept = false;
  if ((fOptions & TF_NONFOLDERS) && accept && (attrs & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)) &&
      !(attrs & SFGAO_FOLDER)) {
    if (fFileMaskUse) {
      const std::string name = ExtractFileName(DisplayNameOf(f, item, SHGDN_FORPARSING));
      if (MatchesAnyMask(name, fMasks))
        FireFileAdd(f, item, attrs, accept);
      else
        accept = false;
    } else {
      FireFileAdd(f, item, attrs, accept);
    }
  }
  if (!accept) {
    if (existing) existing->Info.Kept = false;
    return false;
  }

  TShellnode *node = existing;
  if (node) {
    node->AssignItem(f, owned.release(), false);
    node->UpdateText();
  } else {
    node = NewNode();
    parent->addChild(node);
    node->AssignItem(f, owned.release(), false);
    node->UpdateText();
    node->Info.Enumerated = false;
    // The folder just read is the one in view: watched at once. Its childless children
    // (thousands, maybe) are queued.
    if (!parent->MonitorStarted) StartMonitor(parent);
  }
  node->Info.Kept = true;
  node->Info.Attributes = attrs;

  bool hasKids = attrs & SFGAO_HASSUBFOLDER;
  if ((fOptions & TF_NONFOLDERS) && !hasKids && node->HasAttributes(SFGAO_FOLDER) &&
      node->GetFolder()) {
    if (node->isExpanded()) {
      hasKids = true;
    } else {
      RefreshChildren(node, false);
      hasKids = node->Count() > 0;
    }
  }
  if (!hasKids) {
    node->Info.Enumerated = false;
    DeleteChildren(node);
    if (!node->MonitorStarted) QueueMonitor(node);
  }
  node->SetHasChildren(hasKids);
  node->UpdateIcons();
  return true;
}

namespace {

bool IsWithin(const QTreeWidgetItem *item, const QTreeWidgetItem *ancestor) {
  for (; item; item = item->parent())
    if (item == ancestor) return true;
  return false;
}

} // namespace

// A node holding the selection is deleted: the selection goes where the tree view of the
// platform puts it - the next sibling, else the parent, else the previous sibling - and
// OnChange is raised. Left to itself, the item model would drop the selection silently
// when the node is an ancestor of the selected one.
void TShellTree::DeleteChild(TShellnode *parent, int index) {
  QTreeWidgetItem *doomed = parent->child(index);
  if (!doomed) return;
  if (IsWithin(currentItem(), doomed)) {
    QTreeWidgetItem *next = parent->child(index + 1);
    if (!next) next = parent;
    setSelected(AsNode(next));
  }
  delete parent->takeChild(index); // moving the selection leaves the rows where they were
}

void TShellTree::DeleteChildren(TShellnode *parent) {
  QTreeWidgetItem *current = currentItem();
  if (current != parent && IsWithin(current, parent)) setSelected(parent);
  qDeleteAll(parent->takeChildren());
}

void TShellTree::FireFileAdd(IShellFolder *folder, LPCITEMIDLIST item, uint32_t attrs,
                             bool &accept) {
  if (!OnFileAdd) return;
  // The item's full path: its parsing name in the folder that holds it.
  const std::string filename = DisplayNameOf(folder, item, SHGDN_FORPARSING);
  OnFileAdd(filename, attrs, accept);
}

void TShellTree::RefreshItem(TShellnode *node) {
  if (!node) return;
  BeginUpdate();
  struct TEnd {
    TShellTree *t;
    ~TEnd() { t->EndUpdate(); }
  } end{this};
  ComPtr<IShellFolder> parentFolder = node->Info.ParentFolder;
  // A path that no longer parses keeps the item and re-derives its absolute list only.
  node->AssignItem(parentFolder.get(), ParsePath(parentFolder.get(), node->NodePath(), false),
                   false);
  node->UpdateText();
  node->UpdateIcons();
}

// ---- sorting ---------------------------------------------------------------------------

intptr_t TShellTree::SortCallerValue() const {
  return intptr_t(fFileSortType) | (intptr_t(fFileSortOrder) << 8);
}

int TShellTree::CompareNodes(TShellnode *first, TShellnode *second, intptr_t data) {
  int column = 0;
  bool ascending = true;
  if (first->IsPlainFile() && second->IsPlainFile()) {
    column = int(data & 0xFF);
    ascending = TFileSortOrder((data >> 8) & 0xFF) == so_Ascending;
  }
  IShellFolder *folder = first->Info.ParentFolder.get();
  const HRESULT hr = folder ? folder->CompareIDs(column, first->Info.RelPidl, second->Info.RelPidl)
                            : E_FAIL;
  const int r = hr == 0 ? 0 : hr == 1 ? 1 : -1;
  return ascending ? r : -r;
}

void TShellTree::SortChildren(TShellnode *node, bool recursive) {
  if (!node) return;
  // Children that are in order already (every refresh of an unchanged folder) stay as
  // they are after one pass instead of a full sort.
  bool sorted = true;
  const intptr_t data = SortCallerValue();
  for (int i = 1; i < node->Count() && sorted; ++i) {
    TShellnode *a = node->Child(i - 1), *b = node->Child(i);
    sorted = a && b && CompareProc(b, a, data) >= 0;
  }
  if (!sorted) node->sortChildren(0, Qt::AscendingOrder);
  if (recursive)
    for (int i = 0; i < node->Count(); ++i)
      SortChildren(node->Child(i), true);
}

void TShellTree::NodeChanged(TShellnode *node) {
  if (OnChange && !fDestroying) OnChange(this, node);
}

// ---- user interface --------------------------------------------------------------------

void TShellTree::showEvent(QShowEvent *e) {
  QTreeWidget::showEvent(e);
  GuardCall(
      [&] {
        HandleNeeded();
        if (!e->spontaneous()) ShowingChanged(true);
      },
      this);
}

void TShellTree::hideEvent(QHideEvent *e) {
  QTreeWidget::hideEvent(e);
  if (!e->spontaneous() && !fDestroying) GuardCall([&] { ShowingChanged(false); }, this);
}

void TShellTree::ShowingChanged(bool visible) {
  UpdateOwnerWindow();
  // Only a tree coming into view is read again: one being hidden may be on its way out
  // with its form, whose handlers must not run any more.
  if (!visible) return;
  if (fShowIcons) {
    setShowIcons(false);
    setShowIcons(true);
  }
  RefreshAll();
}

bool TShellTree::DoPopupMenu(TShellnode *node) {
  if (!node) return false;
  bool allow = true;
  if (OnPopupMenu) OnPopupMenu(node, allow);
  return allow;
}

void TShellTree::ShowShellMenu(TShellnode *node, const QPoint &screenPoint) {
  IShellFolder *folder = node ? node->Info.ParentFolder.get() : nullptr;
  if (!folder) return;
  ShowItemContextMenu(folder, {node->Info.RelPidl}, screenPoint, OwnerWindow);
}

void TShellTree::contextMenuEvent(QContextMenuEvent *e) {
  e->accept();
  GuardCall(
      [&] {
        TShellnode *node = nullptr;
        QPoint point; // in the viewport
        if (e->reason() == QContextMenuEvent::Keyboard) {
          node = Selected();
          if (!node) return;
          const QRect r = visualItemRect(node);
          point = QPoint(r.left() + (r.right() - r.left()) / 2, r.bottom() - (r.bottom() - r.top()) / 2);
        } else {
          // Mouse menus arrive through the viewport, in its coordinates.
          point = e->pos();
          node = GetNodeAt(point);
        }
        if (!DoPopupMenu(node)) return;
        const QPoint screen = viewport()->mapToGlobal(point);
        // A node other than the selected one is selected for the time of the menu; the
        // former selection comes back afterwards, if it still exists.
        QPersistentModelIndex previous;
        bool remembered = false;
        if (node != Selected()) {
          if (TShellnode *sel = Selected()) previous = indexFromItem(sel);
          remembered = previous.isValid();
          setSelected(node);
        }
        if (PopupMenuMode == pmm_PopupMenu) {
          if (QMenu *menu = fPopupMenu.data()) {
            menu->setProperty("PopupComponent", QVariant::fromValue<QObject *>(this));
            menu->exec(screen);
          }
        } else {
          ShowShellMenu(node, screen);
        }
        if (remembered && previous.isValid()) setSelected(AsNode(itemFromIndex(previous)));
      },
      this);
}

void TShellTree::mousePressEvent(QMouseEvent *e) {
  // A right-click selects nothing by itself: the menu selects for its own time only.
  if (e->button() == Qt::RightButton && !RightClickSelect) {
    setFocus(Qt::MouseFocusReason);
    e->accept();
    return;
  }
  QTreeWidget::mousePressEvent(e);
}

void TShellTree::wheelEvent(QWheelEvent *e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) {
    QTreeWidget::wheelEvent(e);
    return;
  }
  // A notch of 120 scrolls one page; finer wheels scroll the same share of a page.
  QScrollBar *bar = verticalScrollBar();
  if (fWheelRest != 0 && (fWheelRest > 0) != (delta < 0)) fWheelRest = 0;
  fWheelRest += -double(delta) * bar->pageStep() / 120.0;
  const int move = int(fWheelRest);
  fWheelRest -= move;
  bar->setValue(bar->value() + move);
  e->accept();
}

bool TShellTree::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) {
  const bool starts = trigger == AllEditTriggers || (editTriggers() & trigger);
  if (starts && index.isValid()) {
    TShellnode *node = AsNode(itemFromIndex(index));
    bool allow = !ReadOnly;
    if (OnEditing) OnEditing(this, node, allow);
    if (!allow || !node || !node->HasAttributes(SFGAO_CANRENAME)) return false;
  }
  return QTreeWidget::edit(index, trigger, event);
}

void TShellTree::EditEnded(TShellnode *node, const std::string &text) {
  std::string s = text;
  if (OnEdited) OnEdited(this, node, s);
  if (node && node->Rename(s)) node->SetText(s);
}

} // namespace plm
