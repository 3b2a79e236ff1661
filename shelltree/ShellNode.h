#pragma once
// The folder tree's nodes: one TShellnode per item of the shell namespace, a standard Qt
// tree item (label, icon, expand button, expanded state) that assistive technologies read
// item by item, with the identifier lists and folder interfaces the tree needs.
#include "platform/shell/ShellApi.h"

#include <QTreeWidgetItem>

#include <memory>
#include <string>

namespace plm {

class TShellnode;
class TSystemImageList;

// What a node needs from the tree that holds it (the tree implements it). The tree
// outlives its nodes: it deletes them before anything else of its own goes.
class TShellnodeHost {
public:
  virtual IMalloc *Malloc() const = 0;
  // The image list attached to the tree; null when icons are off.
  virtual TSystemImageList *NodeImages() const = 0;
  virtual bool ShowSharedOverlay() const = 0;
  virtual bool ShowLinkOverlay() const = 0;
  // The window the shell may show dialogs on; null when it must show none.
  virtual HWND ShellOwner() const = 0;
  virtual void SortChildren(TShellnode *node, bool recursive) = 0;
  // The tree's selection-changed event for a node whose item changed (after a rename).
  virtual void NodeChanged(TShellnode *node) = 0;
  // The node is being destroyed: the host forgets any work it had planned for it.
  virtual void NodeGoing(TShellnode *) {}

protected:
  ~TShellnodeHost() = default;
};

// A node's change monitor; stopping it (destruction) waits until it has ended.
class TNodeMonitor {
public:
  virtual ~TNodeMonitor() = default;
};

struct TNodeInfo {
  LPITEMIDLIST RelPidl = nullptr; // the item in ParentFolder; the root's absolute list
  LPITEMIDLIST AbsPidl = nullptr;
  ComPtr<IShellFolder> ParentFolder;
  ComPtr<IShellFolder> Folder; // bound on first use
  SFGAOF Attributes = 0;
  bool Enumerated = false;
  bool Kept = false; // mark of the refresh's mark and sweep
};

class TShellnode : public QTreeWidgetItem {
public:
  // The type QTreeWidgetItem::type() reports for shell nodes.
  static constexpr int NodeType = QTreeWidgetItem::UserType + 0x5E;

  explicit TShellnode(TShellnodeHost &owner);
  ~TShellnode() override;
  TShellnode(const TShellnode &) = delete;
  TShellnode &operator=(const TShellnode &) = delete;

  bool Bound = false;
  bool MonitorStarted = false;
  TNodeInfo Info;
  std::unique_ptr<TNodeMonitor> MonitorThread;

  virtual void UpdateIcons();
  virtual void GetDisplayName(std::string &name);
  // Renames the item; false when the name is the label already or the shell refused.
  virtual bool Rename(const std::string &newName);

  // Fills the node from an item of parentFolder; rel (owned from now on) may be null to
  // keep the item and re-derive the absolute list only.
  void AssignItem(IShellFolder *parentFolder, LPITEMIDLIST rel, bool recursive);
  IShellFolder *GetFolder();
  void Unbind();
  void UpdateText();
  std::string NodePath() const;
  bool HasAttributes(SFGAOF mask) const { return (Info.Attributes & mask) == mask; }
  bool IsPlainFile() const {
    return (Info.Attributes & SFGAO_FILESYSTEM) && !(Info.Attributes & SFGAO_FOLDER);
  }

  // The standard item's state, under the names of the tree.
  TShellnodeHost &Owner() const { return *fOwner; }
  TShellnode *ParentNode() const;
  TShellnode *Child(int i) const;
  int Count() const { return childCount(); }
  const std::string &Text() const { return fText; } // the label's bytes
  void SetText(const std::string &text);
  int ImageIndex() const { return fImage; }
  int SelectedIndex() const { return fSelected; }
  int OverlayIndex() const { return fOverlay; }
  void SetImages(int image, int selected, int overlay);
  // Draws the icons again from the tree's image list (after it was attached or removed).
  void ApplyIcons();
  bool HasChildren() const;
  void SetHasChildren(bool on);
  bool Expanded() const { return isExpanded(); }
  void SetExpanded(bool on) { setExpanded(on); }
  // True from the start of the destruction on: a late change hand-off must not refresh it.
  bool Destroying() const { return fDestroying; }

private:
  TShellnodeHost *fOwner;
  ComPtr<IMalloc> fMalloc; // the tree's allocator, held until the lists are freed
  std::string fText;
  int fImage = -1, fSelected = -1, fOverlay = -1;
  bool fDestroying = false;
};

} // namespace plm
