#pragma once
// TFileListBox: the files of one folder that match a mask, with their icons, sorted by
// name. Hidden files (a name starting with ".") and folders are left out.
//
// OnClick is raised whenever the user changes the selection, by mouse or keyboard
// (clicking the item already selected raises nothing); OnChange follows it when the
// selected index differs from the one it last reported. Changes made by the program
// (a new folder, a selected index set) raise neither.
#include <QListWidget>

#include <functional>
#include <string>

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

signals:
  // The folder has just been read (a new folder, or Update): the items are new.
  void Listed();

public:

  // True when the name matches the mask ("*" any run, "?" one character, case ignored).
  static bool MatchesMask(const std::string &name, const std::string &mask);

protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                       const QEvent *event) const override;
  void focusInEvent(QFocusEvent *e) override;

private:
  void ListFolder();
  void UserSelectionChanged();

  std::string fMask = "*.plm";
  std::string fDirectory;
  std::vector<std::string> fNames; // bytes of each item's file name
  int fLastSel = -1;
  int fSilent = 0;
};
