#include "components/ECombo.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <utility>

namespace {

// The item role that holds the attached object; Qt::UserRole stays free for the owner.
constexpr int kObjectRole = Qt::UserRole + 0x4F42;

// Letters "a" to "z" become capitals; everything else (accented letters too) is kept.
QString AsciiCapitals(const QString &text) {
  QString out = text;
  for (QChar &c : out)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  return out;
}

} // namespace

TEComboBox::TEComboBox(QWidget *parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, [this](int) {
    fPicked = true;
    if (OnChange) OnChange(this);
  });
  // An item that leaves the list takes its object with it.
  connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex &parent, int first, int last) {
            if (!parent.isValid()) ReleaseObjects(first, last);
          });
  // Items added to an empty list leave it without a selection: the box chooses nothing
  // on its own (this runs after the standard box has picked the first item).
  connect(model(), &QAbstractItemModel::rowsAboutToBeInserted, this,
          [this](const QModelIndex &parent) {
            fInsertingIntoEmpty = !parent.isValid() && count() == 0 && currentIndex() < 0;
          });
  connect(model(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &parent) {
    if (!parent.isValid() && std::exchange(fInsertingIntoEmpty, false) && !isEditable())
      setCurrentIndex(-1);
  });
}

TEComboBox::~TEComboBox() {
  if (fListWatched) fListWatched->removeEventFilter(this);
  try {
    FreeItemObjects();
  } catch (...) {
    // An object that fails while being freed must not stop the box's own destruction.
  }
}

void TEComboBox::CheckModify() {
  const QString text = currentText();
  if (text != fLastText) {
    fChangedWithoutTyping = !GetEditModified();
    if (OnModify) OnModify(this);
  }
  fLastText = currentText();
}

bool TEComboBox::GetEditModified() {
  const bool modified = lineEdit() && lineEdit()->isModified();
  if (modified) fChangedWithoutTyping = false;
  return modified;
}

void TEComboBox::SetEditModified(bool value) {
  if (lineEdit()) lineEdit()->setModified(value);
  CheckModify();
}

QObject *TEComboBox::Objects(int index) const {
  return itemData(index, kObjectRole).value<QObject *>();
}

void TEComboBox::setObjects(int index, QObject *obj) {
  if (index < 0 || index >= count()) return;
  QObject *old = Objects(index);
  if (old == obj) return;
  setItemData(index, obj ? QVariant::fromValue(obj) : QVariant(), kObjectRole);
  delete old;
}

void TEComboBox::AddItem(const QString &text, QObject *obj) {
  addItem(text);
  setObjects(count() - 1, obj);
}

void TEComboBox::FreeItemObjects() {
  for (int i = 0; i < count(); ++i)
    if (QObject *obj = Objects(i)) {
      setItemData(i, QVariant(), kObjectRole);
      delete obj;
    }
}

void TEComboBox::ReleaseObjects(int first, int last) {
  for (int i = first; i <= last && i < count(); ++i)
    delete Objects(i);
}

void TEComboBox::Loaded() { fLastText = currentText(); }

void TEComboBox::showPopup() {
  if (OnDropDown) OnDropDown(this);
  QWidget *list = view()->parentWidget();
  if (list && list != fListWatched) {
    if (fListWatched) fListWatched->removeEventFilter(this);
    list->installEventFilter(this);
    fListWatched = list;
  }
  fDropped = true;
  QComboBox::showPopup();
  // An empty box opens no list: it has closed at once.
  if (!list || !list->isVisible()) ListClosed();
}

void TEComboBox::hidePopup() {
  QComboBox::hidePopup();
  ListClosed();
}

void TEComboBox::ListClosed() {
  if (!fDropped) return;
  fDropped = false;
  QCoreApplication::postEvent(this, new QEvent(WM_DROPUP));
}

bool TEComboBox::eventFilter(QObject *watched, QEvent *e) {
  // The list may also close without hidePopup (the window losing the focus).
  if (watched == fListWatched && e->type() == QEvent::Hide) ListClosed();
  return QComboBox::eventFilter(watched, e);
}

bool TEComboBox::event(QEvent *e) {
  if (e->type() == WM_DROPUP) {
    DropUp();
    return true;
  }
  return QComboBox::event(e);
}

void TEComboBox::DropUp() {
  if (currentText() != fLastText) SetEditModified(false);
  if (OnDropUp) OnDropUp(this);
  if (fPackItems) {
    const int index = currentIndex();
    // Nothing chosen: there is no item to keep, so the list stays as it is.
    if (index < 0) return;
    FreeItemObjects();
    const QString text = itemText(index);
    clear();
    addItem(text);
    setCurrentIndex(0);
  }
}

bool TEComboBox::KeyHandlers(QKeyEvent *e, QChar &ch) {
  int key = e->key();
  if (OnKeyDown) {
    OnKeyDown(this, key, e->modifiers());
    if (key == 0) return false;
  }
  if (OnKeyPress && !ch.isNull()) {
    OnKeyPress(this, ch);
    if (ch.isNull()) return false;
  }
  return true;
}

void TEComboBox::keyPressEvent(QKeyEvent *e) {
  const QString typed = e->text();
  QChar ch = typed.size() == 1 && typed.at(0).isPrint() ? typed.at(0) : QChar();
  if (!KeyHandlers(e, ch)) {
    e->accept();
    return;
  }
  const QString before = currentText();
  fPicked = false;
  QString text = ch.isNull() ? typed : QString(ch);
  if (fUpperCase) text = AsciiCapitals(text);
  if (text != typed) {
    QKeyEvent changed(e->type(), e->key(), e->modifiers(), e->nativeScanCode(),
                      e->nativeVirtualKey(), e->nativeModifiers(), text, e->isAutoRepeat(),
                      ushort(e->count()));
    QComboBox::keyPressEvent(&changed);
    e->setAccepted(changed.isAccepted());
  } else {
    QComboBox::keyPressEvent(e);
  }
  if (e->key() == Qt::Key_Delete && !isEditable()) setCurrentIndex(-1);
  // Typing in the edit part is a change too; a pick by arrow key has reported itself.
  if (isEditable() && !fPicked && currentText() != before && OnChange) OnChange(this);
}

void TEComboBox::focusOutEvent(QFocusEvent *e) {
  CheckModify();
  QComboBox::focusOutEvent(e);
}
