#pragma once
// TShellTree: a tree view over the shell namespace from one root location down, one
// TShellnode per item. Children are read when a node opens and kept in the shell's own
// order; the selected folder is read and chosen through its file-system Path; the shell's
// icons, its context menu (or the application's) and in-place renaming are offered.
//
// The view is a standard QTreeWidget, so keyboard navigation, type-ahead search and
// assistive technologies work item by item. "The window exists" means the control has
// been set up for display (shown, loaded by its form, or asked to rebuild); a Path
// assigned before that is remembered and selected once the tree is built.
#include "platform/ChangeNotify.h"
#include "platform/shell/ShellApi.h"
#include "shelltree/DeviceWindow.h"
#include "shelltree/ShellNode.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>


namespace plm {

class TSystemImageList;

// Root locations, each asking the shell for one special folder.
enum TPidls {
  PIDL_DESKTOP,
  PIDL_PROGRAMS,
  PIDL_CONTROLS,
  PIDL_PRINTERS,
  PIDL_PERSONAL,
  PIDL_FAVORITES,
  PIDL_STARTUP,
  PIDL_RECENT,
  PIDL_SENDTO,
  PIDL_BITBUCKET,
  PIDL_STARTMENU,
  PIDL_DESKTOPDIRECTORY,
  PIDL_DRIVES,
  PIDL_NETWORK,
  PIDL_NETHOOD,
  PIDL_FONTS,
  PIDL_TEMPLATES,
  PIDL_USERDEFINED, // the location in UserRootPidl
};
// The CSIDL a root location asks for (-1 for PIDL_USERDEFINED).
int CsidlOf(TPidls root);

// What the enumeration includes: a set of these bits. Shifted left by five they are the
// SHCONTF_ flags (folders 0x20, files 0x40, hidden items 0x80).
enum TVisOption : uint8_t { TF_FOLDERS = 0x1, TF_NONFOLDERS = 0x2, TF_HIDDEN = 0x4 };
using TVisOptions = uint8_t;

// The order among files: the column handed to CompareIDs, and its direction.
enum TFileSortType { so_Name, so_Size, so_Type, so_Date };
enum TFileSortOrder { so_Ascending, so_Descending };
enum TPopupMenuMode { pmm_System, pmm_PopupMenu };

class TShellTree : public QTreeWidget, public TShellnodeHost {
  Q_OBJECT
public:
  using TOnFileAddEvent =
      std::function<void(const std::string &Filename, uint32_t Attributes, bool &Allow)>;
  using TOnPopupMenuEvent = std::function<void(TShellnode *Node, bool &Allow)>;
  using TTVChangedEvent = std::function<void(QObject *Sender, TShellnode *Node)>;
  using TTVExpandingEvent =
      std::function<void(QObject *Sender, TShellnode *Node, bool &AllowExpansion)>;
  using TTVEditingEvent = std::function<void(QObject *Sender, TShellnode *Node, bool &AllowEdit)>;
  using TTVEditedEvent = std::function<void(QObject *Sender, TShellnode *Node, std::string &S)>;
  // Returns <0, 0 or >0 for first before, equal to or after second; data is the caller value.
  using TCompareProc = int (*)(TShellnode *first, TShellnode *second, intptr_t data);

  // Raises EOutOfMemory when the shell gives no allocator or no desktop folder.
  explicit TShellTree(QWidget *parent = nullptr);
  ~TShellTree() override;

  // Published properties.
  bool ShowVirtualFolders() const { return fShowVirtualFolders; }
  void setShowVirtualFolders(bool v);
  bool ShowSharedOverlay() const override { return fShowSharedOverlay; }
  void setShowSharedOverlay(bool v);
  bool ShowLinkOverlay() const override { return fShowLinkOverlay; }
  void setShowLinkOverlay(bool v);
  bool RootUsePIDL() const { return fRootUsePIDL; }
  void setRootUsePIDL(bool v);
  TPidls RootPIDL() const { return fRootPIDL; }
  void setRootPIDL(TPidls v);
  const std::string &RootDir() const { return fRootDir; }
  void setRootDir(const std::string &v);
  TVisOptions Options() const { return fOptions; }
  void setOptions(TVisOptions v);
  // The file-system path of the selected node; empty when nothing is selected or the
  // selected item has none.
  std::string Path() const;
  void setPath(const std::string &value);
  bool UpdAutoThread = true; // folder change notifications refresh the tree
  bool UpdAuto = true;       // a node is read again every time it opens
  bool UpdAutoRec = false;   // ... and so are its open children
  bool ShowIcons() const { return fShowIcons; }
  void setShowIcons(bool v);
  std::string FileMask() const;
  void setFileMask(const std::string &v);
  bool FileMaskUse() const { return fFileMaskUse; }
  void setFileMaskUse(bool v);
  TFileSortType FileSortType() const { return fFileSortType; }
  void setFileSortType(TFileSortType v);
  TFileSortOrder FileSortOrder() const { return fFileSortOrder; }
  void setFileSortOrder(TFileSortOrder v);
  TOnFileAddEvent OnFileAdd;
  TPopupMenuMode PopupMenuMode = pmm_System;
  QMenu *PopupMenu() const { return fPopupMenu.data(); }
  void setPopupMenu(QMenu *menu);
  bool ShowMessages = true; // the shell may show its own dialogs
  TOnPopupMenuEvent OnPopupMenu;

  // The tree view's own properties and events.
  bool ReadOnly = false;
  bool RightClickSelect = false;
  TTVChangedEvent OnChange;
  TTVExpandingEvent OnExpanding;
  TTVEditingEvent OnEditing;
  TTVEditedEvent OnEdited;

  // The shell's objects and locations the tree holds.
  IMalloc *Malloc() const override { return fMalloc.get(); }
  IShellFolder *DesktopFolder() const { return fDesktopFolder.get(); }
  IShellFolder *DrivesFolder() const { return fDrivesFolder.get(); }
  LPITEMIDLIST DesktopPidl() const { return fDesktopPidl; }
  LPITEMIDLIST DrivesPidl() const { return fDrivesPidl; }
  LPITEMIDLIST UserRootPidl() const { return fUserRootPidl; }
  TSystemImageList *SystemImages() const { return fSystemImages; }
  TShellnode *RootNode() const { return fRootNode; }
  const std::vector<std::string> &Masks() const { return fMasks; }
  uint32_t MonitorFilter() const { return fMonitorFilter; }
  bool ExpandReady() const { return fExpandReady; }
  bool ImagesReady() const { return fImagesReady; }
  // Receives the device-change broadcasts (volumes that come and go).
  TDeviceWindow *DeviceWindow() const { return fDeviceWindow; }
  // The window shell user interface belongs to; OwnerWindow may be set to null for an
  // unattended refresh.
  HWND OwnerWindow = nullptr;
  HWND ShellOwner() const override { return ShowMessages ? OwnerWindow : nullptr; }
  void UpdateOwnerWindow();
  TCompareProc CompareProc;
  std::string PendingPath() const { return fPendingPath; }

  // The operations of the tree.
  void Rebuild(int mode);
  virtual void InitImageList();
  virtual bool DoPopupMenu(TShellnode *node);
  virtual void BuildRoot();
  void RefreshAll();
  void RefreshNode(TShellnode *node, bool recursive);
  // Reads the node's children again: unchanged items keep their nodes, new ones are
  // added, vanished ones removed. With all off, stops at the first accepted item.
  void RefreshChildren(TShellnode *node, bool all);
  void RefreshItem(TShellnode *node);
  // The node of an absolute list: the item's own, the deepest shown ancestor when an
  // item is missing, or null. With expand, the nodes on the way are opened.
  TShellnode *FindNode(LPITEMIDLIST list, bool expand);
  void SelectPath(const std::string &p);
  void SetUserRootPidl(LPCITEMIDLIST list);
  void SortChildren(TShellnode *node, bool recursive) override;
  static int CompareNodes(TShellnode *first, TShellnode *second, intptr_t data);
  // Opens a node through the expansion check; false when it stays closed.
  bool Expand(TShellnode *node);
  // Sets up change monitoring for a folder node that is being shown.
  void StartMonitor(TShellnode *node);
  // The same, soon: from the event loop, a few milliseconds' worth at a time, so that a
  // folder of thousands of subfolders shows at once and the interface is never held
  // long. A node destroyed before its turn is skipped; a node that gained a subfolder
  // before its turn is read again once watched.
  void QueueMonitor(TShellnode *node);
  // Monitors queued and not started yet.
  size_t PendingMonitors() const { return fMonitorQueued.size(); }
  // Hands MonitorFilter to every running monitor.
  void PropagateFilter();
  // The device window's routine: volume arrivals and removals refresh the drive nodes.
  void DeviceWindowProc(TMessage &message);
  void DeviceChanged(uintptr_t event, const DEV_BROADCAST_HDR *header);
  void DriveChanged(uintptr_t event, const DEV_BROADCAST_VOLUME *volume, TShellnode *drives);
  // The value CompareProc receives while sorting: FileSortType, and FileSortOrder << 8.
  intptr_t SortCallerValue() const;
  void ShowShellMenu(TShellnode *node, const QPoint &screenPoint);
  // The owner form has applied its design values.
  void Loaded();
  // The selected node (null for none); selecting raises OnChange.
  TShellnode *Selected() const;
  void setSelected(TShellnode *node);
  // The node at a point of the viewport, or null.
  TShellnode *GetNodeAt(const QPoint &pos) const;
  bool HandleAllocated() const { return fHandle; }
  void BeginUpdate();
  void EndUpdate();

  // TShellnodeHost.
  TSystemImageList *NodeImages() const override { return fShowIcons ? fSystemImages : nullptr; }
  void NodeChanged(TShellnode *node) override;
  void NodeGoing(TShellnode *node) override;

protected:
  void showEvent(QShowEvent *e) override;
  void hideEvent(QHideEvent *e) override;
  void contextMenuEvent(QContextMenuEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void wheelEvent(QWheelEvent *e) override;
  bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;

private:
  class TChildIndex;
  class TEditDelegate;
  friend class TEditDelegate;

  void HandleNeeded();
  void CreateWnd();
  void InitSpecialFolders();
  void AddRoot(LPITEMIDLIST list);
  bool CanExpand(TShellnode *node);
  bool AddOrUpdateChild(TShellnode *parent, LPITEMIDLIST item, TChildIndex &index);
  void FireFileAdd(IShellFolder *folder, LPCITEMIDLIST item, uint32_t attrs, bool &accept);
  TShellnode *NewNode();
  LPITEMIDLIST ParsePath(IShellFolder *folder, const std::string &text, bool normalize);
  void ShowingChanged(bool visible);
  void AttachImages();
  // Stores a display switch and reads the tree again when it changed.
  void SetAndRefresh(bool &field, bool v);
  void EditEnded(TShellnode *node, const std::string &text);
  void ClearNodes();
  void DeleteChild(TShellnode *parent, int index);
  void DeleteChildren(TShellnode *parent);
  void StartQueuedMonitors();
  void LookAgainForSubfolders(TShellnode *node);

  std::string fPendingPath;
  TDeviceWindow *fDeviceWindow = nullptr;
  ComPtr<IMalloc> fMalloc;
  ComPtr<IShellFolder> fDesktopFolder;
  LPITEMIDLIST fDesktopPidl = nullptr;
  ComPtr<IShellFolder> fDrivesFolder;
  LPITEMIDLIST fDrivesPidl = nullptr;
  std::string fRootDir = "/";
  TPidls fRootPIDL = PIDL_DESKTOP;
  TVisOptions fOptions = TF_FOLDERS;
  bool fRootUsePIDL = true;
  bool fExpandReady = false;
  bool fImagesReady = false;
  bool fShowIcons = true;
  LPITEMIDLIST fUserRootPidl = nullptr;
  bool fShowVirtualFolders = true;
  std::vector<std::string> fMasks{"*.*"};
  bool fFileMaskUse = false;
  TFileSortType fFileSortType = so_Name;
  TFileSortOrder fFileSortOrder = so_Ascending;
  bool fShowSharedOverlay = true;
  bool fShowLinkOverlay = true;
  QPointer<QMenu> fPopupMenu;
  uint32_t fMonitorFilter = FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES;
  TSystemImageList *fSystemImages = nullptr;
  TShellnode *fRootNode = nullptr;

  bool fHandle = false;       // the window exists
  bool fDestroying = false;   // no events while the tree goes
  int fUpdating = 0;          // depth of begin/end update
  TShellnode *fExpanding = nullptr; // a node opened by Expand, already checked
  double fWheelRest = 0;      // part of a line left over by fine wheels
  // Nodes whose monitor is to start, oldest first, and which of them are still due: an
  // entry whose node has gone (or was started meanwhile) is no longer in the set.
  std::deque<TShellnode *> fMonitorQueue;
  std::unordered_set<TShellnode *> fMonitorQueued;
  QTimer fMonitorStarter;
};

// A folder monitor's change, on the interface thread: the node's children are read again
// unless its tree ignores notifications (UpdAutoThread off) or the node is going.
void OnFolderChanged(TShellnode *node);

} // namespace plm
