#pragma once
// TEComboBox: a combo box that reports when its drop-down list has closed (OnDropUp, the
// counterpart of OnDropDown) and when its text has changed (OnModify), that can turn typed
// letters into capitals (UpperCase) and shrink its list to the chosen item (PackItems).
// It owns the objects attached to its items.
//
// OnChange is raised when the user picks an item (with the list, the arrow keys or the
// wheel), OnDropDown just before the list opens. The close of the list is handled through
// a posted WM_DROPUP event, so by the time OnModify and OnDropUp run, the selection that
// closed the list has been made and OnChange has run.
#include <QComboBox>
#include <QEvent>

#include <functional>
#include <string>

class TEComboBox : public QComboBox {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(QObject *Sender)>;
  // Key may be set to 0 to cancel the key.
  using TKeyEvent = std::function<void(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)>;
  using TKeyPressEvent = std::function<void(QObject *Sender, QChar &Key)>;

  // The private event the box posts to itself when its list has closed.
  static constexpr QEvent::Type WM_DROPUP = QEvent::Type(1570);

  explicit TEComboBox(QWidget *parent = nullptr);
  ~TEComboBox() override;

  bool PackItems() const { return fPackItems; }
  void setPackItems(bool v) { fPackItems = v; }
  bool UpperCase() const { return fUpperCase; }
  void setUpperCase(bool v) { fUpperCase = v; }

  TNotifyEvent OnChange;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnDropUp;
  TNotifyEvent OnModify;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

  // True after a change that did not come from typing in the edit part.
  bool ChangedWithoutTyping() const { return fChangedWithoutTyping; }
  // The text as it stood at the last change check.
  const QString &LastText() const { return fLastText; }

  // Raises OnModify when the text differs from LastText; LastText follows the text.
  virtual void CheckModify();
  // The edit part's modification flag (false without an edit part). When it is set,
  // ChangedWithoutTyping is cleared.
  bool GetEditModified();
  void SetEditModified(bool value);

  // The object attached to item index, owned by the box; nullptr when there is none.
  QObject *Objects(int index) const;
  // Attaches obj to item index; the box owns it from now on and frees any earlier one.
  void setObjects(int index, QObject *obj);
  void AddItem(const QString &text, QObject *obj);
  // Frees every item's object; the items stay, without objects.
  void FreeItemObjects();

  // The owner's design values have been applied: they do not count as a change.
  void Loaded();

  void showPopup() override;
  void hidePopup() override;

protected:
  bool event(QEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void focusOutEvent(QFocusEvent *e) override;

private:
  void ListClosed();
  void DropUp();
  void ReleaseObjects(int first, int last);
  // Runs the key through OnKeyDown, then OnKeyPress; false when one of them cancelled it.
  bool KeyHandlers(QKeyEvent *e, QChar &ch);

  bool fPackItems = false;
  bool fUpperCase = false;
  bool fChangedWithoutTyping = false;
  bool fDropped = false;
  bool fPicked = false; // an item was picked while the current key was handled
  bool fInsertingIntoEmpty = false;
  QString fLastText;
  QObject *fListWatched = nullptr;
};
