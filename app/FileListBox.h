#pragma once
// TFileListBox: the files of one folder that match a mask, with their icons, sorted by
// name. Hidden files (a name starting with ".") and folders are left out.
//
// OnClick is raised whenever the user changes the selection, by mouse or keyboard
// (clicking the item already selected raises nothing); OnChange follows it when the
// selected index differs from the one it last reported. Changes made by the program
// (a new folder, a selected index set) raise neither.
//
// The list follows its folder on disk one change at a time: a file added, removed or
// renamed inserts, removes or renames its row in the list's order, the selection and the
// scroll position staying; when changes were lost or come by the hundred, the folder is
// read once again instead.
#include "platform/ChangeNotify.h"

#include <QIcon>
#include <QListWidget>

#include <functional>
#include <string>
#include <vector>

class QTimer;
namespace plm {
class TFolderWatch;
}

class TFileListBox : public QListWidget {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(QObject *Sender)>;

  explicit TFileListBox(QWidget *parent = nullptr);

  // The file-name mask, "*" and "?" wildcards, letter case ignored ("*.plm" by default).
  const std::string &Mask() const { return fMask; }
  void setMask(const std::string &mask);

  // The folder shown. Setting it lists that folder's files with nothing selected and
  // makes it the process's current directory.
  const std::string &Directory() const { return fDirectory; }
  void setDirectory(const std::string &dir);
  // Reads the folder again; nothing is selected afterwards.
  void Update();

  int ItemIndex() const;
  void setItemIndex(int index);
  std::string ItemText(int index) const;
  // The full path of the selected file; empty when nothing is selected.
  std::string FileName() const;
  // The item at a point of the list's viewport, or -1.
  int ItemAtPos(const QPoint &pos) const;

  TNotifyEvent OnClick;
  TNotifyEvent OnChange;

  // Follows these changes of the folder (what its watch reports; public for the tests).
  // Each is checked against the folder as it is now, so that stale ones change nothing.
  void Apply(const std::vector<plm::TFolderChange> &changes);

signals:
  // The folder has just been read (a new folder, Update, or changes that could not be
  // followed one by one): the items are new.
  void Listed();
  // Rows were inserted or removed one by one, following the folder.
  void RowsChanged();
  // A listed file was written again (or replaced under its name).
  void Written(const std::string &name);

public:

  // True when the name matches the mask ("*" any run, "?" one character, case ignored).
  static bool MatchesMask(const std::string &name, const std::string &mask);

protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                       const QEvent *event) const override;
  void focusInEvent(QFocusEvent *e) override;

private:
  void ListFolder();
  void Watch();
  // Reads the folder again, keeping the selected file and the scroll position.
  void Reread();
  // The row the name has or would have in the list's order.
  size_t RowFor(const std::string &name) const;
  bool Listable(const std::string &name) const;
  bool Insert(const std::string &name);
  bool Remove(const std::string &name);
  void UserSelectionChanged();

  std::string fMask = "*.plm";
  std::string fDirectory;
  std::vector<std::string> fNames; // bytes of each item's file name
  int fLastSel = -1;
  int fSilent = 0;
  QIcon fIcon; // every item matches the same mask: one icon serves them all
  plm::TFolderWatch *fWatch = nullptr;
  std::vector<plm::TFolderChange> fPending; // waiting while another window is modal
  QTimer *fRetry = nullptr;
};
