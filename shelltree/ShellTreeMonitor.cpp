// How the folder tree keeps itself current: a monitor thread per shown folder that has a
// file-system path, and the device window's volume arrivals and removals.
#include "shelltree/DiscMonitor.h"
#include "shelltree/Pidl.h"
#include "shelltree/ShellTree.h"

#include "platform/Exceptions.h"
#include "platform/Strings.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

namespace plm {

namespace {

TShellTree *TreeOf(TShellnode *node) {
  return node ? qobject_cast<TShellTree *>(node->treeWidget()) : nullptr;
}

// A mount point as a node's path gives it and as the mount table does, without a
// trailing "/" (except the root itself).
std::string MountKey(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

bool NamesMountPoint(const DEV_BROADCAST_VOLUME *volume, const std::string &path) {
  const std::string key = MountKey(path);
  const auto &points = volume->dbcv_mountpoints;
  return std::any_of(points.begin(), points.end(),
                     [&](const std::string &p) { return MountKey(p) == key; });
}

// Puts a value back when the scope ends, also when an error escapes.
template <class T> class TRestore {
public:
  TRestore(T &var, T value) : fVar(var), fSaved(var) { fVar = value; }
  ~TRestore() { fVar = fSaved; }
  TRestore(const TRestore &) = delete;
  TRestore &operator=(const TRestore &) = delete;

private:
  T &fVar;
  T fSaved;
};

} // namespace

TDiscMonitorThread::TDiscMonitorThread(TShellnode *node)
    : TDiscMonitorThread(node, node->NodePath(), TreeOf(node) ? TreeOf(node)->MonitorFilter() : 0,
                         &OnFolderChanged) {}

void TShellTree::StartMonitor(TShellnode *node) {
  if (node->MonitorStarted) return;
  // Out of descriptors, or of threads, the folder goes unwatched, as one whose
  // notification cannot be set up: the tree itself and the rest of the program go on.
  if (!Trim(node->NodePath()).empty() && TDiscMonitorThread::DescriptorsToSpare()) {
    auto thread = std::make_unique<TDiscMonitorThread>(node);
    TDiscMonitorThread *started = thread.get();
    node->MonitorThread = std::move(thread);
    try {
      if (started->Usable())
        started->Resume();
      else
        node->MonitorThread.reset();
    } catch (const EOSError &) {
      node->MonitorThread.reset();
    }
  }
  // Also without a thread: an item without a file-system path is never tried again.
  node->MonitorStarted = true;
}

void TShellTree::QueueMonitor(TShellnode *node) {
  if (node->MonitorStarted || fDestroying || !fMonitorQueued.insert(node).second) return;
  fMonitorQueue.push_back(node);
  if (!fMonitorStarter.isActive()) fMonitorStarter.start();
}

void TShellTree::StartQueuedMonitors() {
  // Each start makes a thread: a slice of a few of them keeps the interface answering.
  constexpr qint64 kSliceNs = 4'000'000;
  QElapsedTimer slice;
  slice.start();
  while (!fMonitorQueue.empty() && slice.nsecsElapsed() < kSliceNs) {
    TShellnode *node = fMonitorQueue.front();
    fMonitorQueue.pop_front();
    if (!fMonitorQueued.erase(node)) continue;
    StartMonitor(node);
    LookAgainForSubfolders(node);
  }
  if (fMonitorQueue.empty()) fMonitorStarter.stop();
}

void TShellTree::LookAgainForSubfolders(TShellnode *node) {
  // Read as childless before its monitor ran, the folder may have gained a subfolder in
  // between, which the monitor, seeing only what happens from its start, never reports.
  if (!node->MonitorThread || node->HasChildren() || node->Destroying()) return;
  IShellFolder *parent = node->Info.ParentFolder.get();
  LPCITEMIDLIST one[] = {node->Info.RelPidl};
  SFGAOF attrs = SFGAO_HASSUBFOLDER;
  if (parent && one[0] && SUCCEEDED(parent->GetAttributesOf(1, one, &attrs)) &&
      (attrs & SFGAO_HASSUBFOLDER))
    OnFolderChanged(node); // as if its monitor had seen it come
}

void TShellTree::NodeGoing(TShellnode *node) {
  if (!fMonitorQueued.empty()) fMonitorQueued.erase(node);
}

void TShellTree::PropagateFilter() {
  auto visit = [this](auto &self, TShellnode *node) -> void {
    if (!node) return;
    if (node->MonitorStarted && node->MonitorThread) {
      auto *thread = static_cast<TDiscMonitorThread *>(node->MonitorThread.get());
      if (!thread->Failed) SetFilter(thread, fMonitorFilter);
    }
    for (int i = 0; i < node->Count(); ++i)
      self(self, node->Child(i));
  };
  for (int i = 0; i < topLevelItemCount(); ++i)
    visit(visit, dynamic_cast<TShellnode *>(topLevelItem(i)));
}

void OnFolderChanged(TShellnode *node) {
  TShellTree *tree = TreeOf(node);
  if (!tree || node->Destroying() || !tree->UpdAutoThread) return;
  // No shell dialog may come up during a refresh nobody asked for.
  TRestore<HWND> owner(tree->OwnerWindow, nullptr);
  tree->RefreshNode(node, false);
}

void TShellTree::DeviceWindowProc(TMessage &message) {
  if (message.Msg == WM_DEVICECHANGE &&
      (message.WParam == DBT_DEVICEARRIVAL || message.WParam == DBT_DEVICEREMOVECOMPLETE)) {
    DeviceChanged(message.WParam, reinterpret_cast<const DEV_BROADCAST_HDR *>(message.LParam));
    message.Result = 1;
    return;
  }
  message.Result = -1;
}

void TShellTree::DeviceChanged(uintptr_t event, const DEV_BROADCAST_HDR *header) {
  if (fDestroying) return;
  // Asking for validation makes the shell forget what it knows about the drives.
  if (fDrivesFolder) {
    SFGAOF attrs = SFGAO_VALIDATE;
    fDrivesFolder->GetAttributesOf(0, nullptr, &attrs);
  }
  const bool volume = header && header->dbch_devicetype == DBT_DEVTYP_VOLUME;
  const auto *record = volume ? static_cast<const DEV_BROADCAST_VOLUME *>(header) : nullptr;
  if (!fRootNode) return;
  const int depth = PidlItemCount(fRootNode->Info.AbsPidl);
  if (!fDrivesPidl) return;

  auto freeList = [this](LPITEMIDLIST p) { PidlFree(fMalloc.get(), p); };
  if (depth < 2) {
    // FindNode may leave the list it walks cut short: it gets a copy.
    std::unique_ptr<uint8_t, decltype(freeList)> target(PidlCopy(fMalloc.get(), fDrivesPidl),
                                                        freeList);
    TShellnode *drives = FindNode(target.get(), false);
    if (volume)
      DriveChanged(event, record, drives);
    else if (drives && drives->HasChildren())
      RefreshNode(drives, false);
  } else if (depth == 2 && volume) {
    std::unique_ptr<uint8_t, decltype(freeList)> parent(
        PidlCopy(fMalloc.get(), fRootNode->Info.AbsPidl), freeList);
    PidlRemoveLast(parent.get());
    if (fDesktopFolder->CompareIDs(0, fDrivesPidl, parent.get()) == 0)
      DriveChanged(event, record, nullptr);
  }
}

void TShellTree::DriveChanged(uintptr_t event, const DEV_BROADCAST_VOLUME *volume,
                              TShellnode *drives) {
  if (!volume) return;
  if (drives) {
    std::vector<std::string> shown;
    for (int i = 0; i < drives->Count(); ++i) {
      TShellnode *child = drives->Child(i);
      if (!child || !child->HasAttributes(SFGAO_FILESYSTEM)) continue;
      const std::string path = child->NodePath();
      if (path.empty()) continue;
      shown.push_back(MountKey(path));
      if (!NamesMountPoint(volume, path)) continue;
      if (event == DBT_DEVICEREMOVECOMPLETE) {
        DeleteChildren(child);
        child->SetExpanded(false); // so that its button opens it, and reads it, again
      }
      // The volume's contents are read again only when the user opens it.
      child->SetHasChildren(true);
      RefreshItem(child);
    }
    // Mount points come and go, unlike drive letters: a volume that the drives folder
    // does not show yet appears when the folder, once read, is read again.
    const auto &points = volume->dbcv_mountpoints;
    const bool unknown = std::any_of(points.begin(), points.end(), [&](const std::string &p) {
      return std::find(shown.begin(), shown.end(), MountKey(p)) == shown.end();
    });
    if (event == DBT_DEVICEARRIVAL && unknown && drives->Info.Enumerated) RefreshNode(drives, false);
    return;
  }
  // The root is a volume: only its own volume's events refresh it.
  TRestore<bool> messages(ShowMessages, false);
  if (NamesMountPoint(volume, fRootNode->NodePath())) {
    RefreshItem(fRootNode);
    RefreshNode(fRootNode, false);
  }
}

} // namespace plm
