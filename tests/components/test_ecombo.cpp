// TEComboBox driven through its real drop-down list with the keyboard: the order of its
// events, the key rules, the shrinking of the list and the ownership of item objects.
#include "components/ECombo.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QWindow>

#include <memory>
#include <string>
#include <vector>
#include "tests/support/QtTry.h"

namespace {

class EComboTest : public ::testing::Test {
protected:
  void SetUp() override {
    fWindow = std::make_unique<QWidget>();
    fWindow->resize(300, 100);
    fBox = new TEComboBox(fWindow.get());
    fBox->setGeometry(10, 10, 200, 24);
    fBox->addItems({"alpha", "beta", "gamma"});
    fBox->setCurrentIndex(-1);
    fBox->Loaded();
    fBox->OnChange = [this](QObject *) { fLog.push_back("change"); };
    fBox->OnDropDown = [this](QObject *) { fLog.push_back("dropdown"); };
    fBox->OnDropUp = [this](QObject *) { fLog.push_back("dropup"); };
    fBox->OnModify = [this](QObject *) {
      fLog.push_back(fBox->ChangedWithoutTyping() ? "modify-picked" : "modify-typed");
    };
    fWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fWindow.get()));
    // Without a window manager nothing activates the window on its own.
    fWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(fWindow.get()));
    fBox->setFocus();
  }

  // Opens the list, presses the keys in it, and waits until the box has heard it closed.
  void PickInList(const std::vector<Qt::Key> &keys) {
    fBox->showPopup();
    QAbstractItemView *list = fBox->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    for (Qt::Key k : keys)
      QTest::keyClick(list, k);
    QTRY_VERIFY(!fLog.empty() && fLog.back() == "dropup");
  }

  // Declared first so that it outlives the window: the box reports losing the focus
  // while the window is destroyed.
  std::vector<std::string> fLog;
  std::unique_ptr<QWidget> fWindow;
  TEComboBox *fBox = nullptr;
};

using Log = std::vector<std::string>;

// Types one character, accented ones included, as a keyboard would deliver it.
void Type(QWidget *w, const QString &text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &release);
  }
}

TEST_F(EComboTest, ClosingTheListWithoutAChoiceRaisesDropDownThenDropUpOnly) {
  PickInList({Qt::Key_Escape});
  EXPECT_EQ(fLog, (Log{"dropdown", "dropup"}));
  EXPECT_EQ(fBox->currentIndex(), -1);
}

TEST_F(EComboTest, APickWithTheListOpenReportsChangeThenModifyThenDropUp) {
  PickInList({Qt::Key_Home, Qt::Key_Down, Qt::Key_Return});
  EXPECT_EQ(fLog, (Log{"dropdown", "change", "modify-picked", "dropup"}));
  EXPECT_EQ(fBox->currentText(), "beta");
  EXPECT_EQ(fBox->LastText(), "beta");
  // Opening and closing again is no change.
  fLog.clear();
  PickInList({Qt::Key_Escape});
  EXPECT_EQ(fLog, (Log{"dropdown", "dropup"}));
}

TEST_F(EComboTest, ItemsAddedToAnEmptyListSelectNothing) {
  fBox->clear();
  fBox->addItem("first");
  fBox->addItems({"second", "third"});
  EXPECT_EQ(fBox->currentIndex(), -1);
  EXPECT_TRUE(fBox->currentText().isEmpty());
  fBox->setCurrentIndex(1);
  fBox->insertItem(0, "zero");
  EXPECT_EQ(fBox->currentText(), "second");
  EXPECT_TRUE(fLog.empty());
}

TEST_F(EComboTest, AnEmptyBoxStillReportsItsListClosing) {
  fBox->clear();
  fBox->showPopup();
  QTRY_VERIFY(!fLog.empty() && fLog.back() == "dropup");
  EXPECT_EQ(fLog, (Log{"dropdown", "dropup"}));
}

TEST_F(EComboTest, DeleteEmptiesTheSelectionOfADropDownListUnlessAKeyHandlerCancelsIt) {
  fBox->setCurrentIndex(1);
  int seen = 0;
  fBox->OnKeyDown = [&](QObject *, int &key, Qt::KeyboardModifiers) {
    ++seen;
    if (seen == 1) key = 0;
  };
  QTest::keyClick(fBox, Qt::Key_Delete);
  EXPECT_EQ(fBox->currentIndex(), 1);
  QTest::keyClick(fBox, Qt::Key_Delete);
  EXPECT_EQ(fBox->currentIndex(), -1);
  EXPECT_TRUE(fBox->currentText().isEmpty());
  EXPECT_EQ(seen, 2);
}

TEST_F(EComboTest, InAnEditableBoxDeleteEditsAndTypedLettersMayBecomeCapitals) {
  fBox->setEditable(true);
  fBox->setEditText("abc");
  fBox->lineEdit()->setCursorPosition(0);
  QTest::keyClick(fBox, Qt::Key_Delete);
  EXPECT_EQ(fBox->currentText(), "bc");
  EXPECT_EQ(fBox->currentIndex(), -1);

  fBox->setUpperCase(true);
  fBox->lineEdit()->clear();
  Type(fBox, "q");
  Type(fBox, QString::fromUtf8("é1z"));
  EXPECT_EQ(fBox->currentText(), QString::fromUtf8("Qé1Z"));
  fBox->setUpperCase(false);
  Type(fBox, "q");
  EXPECT_EQ(fBox->currentText(), QString::fromUtf8("Qé1Zq"));
}

TEST_F(EComboTest, TypingThenLeavingRaisesModifyOnceAsTyped) {
  fBox->setEditable(true);
  fBox->setEditText("");
  fBox->Loaded();
  auto *other = new QLineEdit(fWindow.get());
  other->move(10, 50);
  other->show();
  fLog.clear();
  QTest::keyClicks(fBox, "xy");
  EXPECT_EQ(fLog, (Log{"change", "change"})); // each typed letter is a change of text
  other->setFocus();
  QTRY_VERIFY(other->hasFocus());
  EXPECT_EQ(fLog, (Log{"change", "change", "modify-typed"}));
  EXPECT_FALSE(fBox->ChangedWithoutTyping());
  // Leaving again without a change reports nothing.
  fBox->setFocus();
  other->setFocus();
  QTRY_VERIFY(other->hasFocus());
  EXPECT_EQ(fLog.size(), 3u);
}

TEST_F(EComboTest, EditModifiedFlagFollowsTheEditPart) {
  EXPECT_FALSE(fBox->GetEditModified()); // a drop-down list has no edit part
  fBox->setEditable(true);
  fBox->lineEdit()->setModified(true);
  EXPECT_TRUE(fBox->GetEditModified());
  fBox->setEditText("programmatic");
  fLog.clear();
  fBox->SetEditModified(false);
  EXPECT_FALSE(fBox->lineEdit()->isModified());
  EXPECT_EQ(fLog, (Log{"modify-picked"}));
  EXPECT_EQ(fBox->LastText(), "programmatic");
}

TEST_F(EComboTest, PackItemsKeepsOnlyTheChosenItemAndFreesEveryObject) {
  std::vector<QPointer<QObject>> objects;
  fBox->clear();
  for (const char *name : {"alpha", "beta", "gamma"}) {
    auto *obj = new QObject;
    objects.emplace_back(obj);
    fBox->AddItem(name, obj);
  }
  fBox->setCurrentIndex(-1);
  fBox->setPackItems(true);
  // Closed without a choice: nothing to keep, the list stays whole.
  PickInList({Qt::Key_Escape});
  ASSERT_EQ(fBox->count(), 3);
  EXPECT_EQ(fBox->Objects(2), objects[2].data());
  for (const auto &o : objects)
    EXPECT_FALSE(o.isNull());

  PickInList({Qt::Key_End, Qt::Key_Return});
  ASSERT_EQ(fBox->count(), 1);
  EXPECT_EQ(fBox->itemText(0), "gamma");
  EXPECT_EQ(fBox->currentIndex(), 0);
  EXPECT_EQ(fBox->Objects(0), nullptr);
  for (const auto &o : objects)
    EXPECT_TRUE(o.isNull());
}

TEST_F(EComboTest, ItemObjectsLiveAsLongAsTheirItemsAcrossANewNativeWindow) {
  QPointer<QObject> first = new QObject, second = new QObject, third = new QObject;
  fBox->AddItem("one", first);
  fBox->AddItem("two", second);
  fBox->AddItem("three", third);
  const int base = fBox->count() - 3;

  // Taken out as a window of its own and put back, the box's native window goes and
  // comes again; its items and their objects stay.
  fBox->setParent(nullptr, Qt::Window);
  fBox->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fBox));
  fBox->windowHandle()->destroy();
  fBox->show();
  fBox->setParent(fWindow.get());
  fBox->show();
  EXPECT_EQ(fBox->count(), base + 3);
  EXPECT_EQ(fBox->Objects(base), first.data());
  EXPECT_FALSE(first.isNull());

  // Replacing an object frees the former one; removing an item frees its object.
  QPointer<QObject> replacement = new QObject;
  fBox->setObjects(base, replacement);
  EXPECT_TRUE(first.isNull());
  fBox->removeItem(base + 1);
  EXPECT_TRUE(second.isNull());
  EXPECT_EQ(fBox->Objects(base + 1), third.data());

  delete fBox;
  EXPECT_TRUE(replacement.isNull());
  EXPECT_TRUE(third.isNull());
}

} // namespace
