// "Exporter…" on the real main window: where it is offered, what the save dialog proposes,
// the file written in the type chosen, and failures said in French.
#include "CommandsFixture.h"
#include "app/FileListBox.h"
#include "app/Uglobalvar.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace plm;
using namespace fixtures;

namespace {

class ExportCommand : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("letters");
    Template(fLetters, "a.plm", "Premier");
    fOut = Folder("out");
  }
  std::string Head(const std::string &path, size_t n) {
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes.substr(0, n);
  }
  std::string fLetters, fOut;
};

} // namespace

TEST_F(ExportCommand, OfferedWhileATemplateIsSelectedAndWritesTheTypeChosen) {
  auto f = Open(fLetters);
  EXPECT_TRUE(f->File1->actions().contains(f->Export1));
  EXPECT_TRUE(f->Popuplistfile->actions().contains(f->Export1));
  EXPECT_EQ(f->Export1->text(), QString::fromUtf8("Exporter…"));
  EXPECT_EQ(f->Export1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
  EXPECT_FALSE(f->Export1->isEnabled());

  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_TRUE(f->Export1->isEnabled());
  SavePath = fOut + "/";
  fSaveAnswers = {QString::fromStdString(fOut + "/a.html")};
  f->activateWindow(); // the shortcut belongs to the active window
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
  QTest::keyClick(f->FileListBox, Qt::Key_E, Qt::ControlModifier);
  ASSERT_EQ(fSaveRequests.size(), 1u);
  const SaveDialogRequest &r = fSaveRequests[0];
  EXPECT_EQ(r.title, QString::fromUtf8("Exporter le modèle"));
  EXPECT_EQ(r.fileName, "a.eml");
  EXPECT_EQ(r.initialDir, QString::fromStdString(fOut + "/"));
  EXPECT_EQ(r.filter, QString::fromUtf8("Modèle de message (*.eml);;Page autonome (*.html)"));
  EXPECT_EQ(Head(fOut + "/a.html", 10), "<html><hea");

  // From the file list's menu, into another folder, which becomes the one proposed.
  const std::string other = Folder("other");
  fSaveAnswers = {QString::fromStdString(other + "/a.eml")};
  RightClick(*f, 0);
  ASSERT_TRUE(f->Popuplistfile->isVisible());
  ASSERT_TRUE(f->Export1->isEnabled());
  QTest::mouseClick(f->Popuplistfile, Qt::LeftButton, {},
                    f->Popuplistfile->actionGeometry(f->Export1).center());
  EXPECT_EQ(Head(other + "/a.eml", 17), "MIME-Version: 1.0");
  EXPECT_EQ(SavePath, other + "/");
  EXPECT_TRUE(fMessages.empty());

  // The menu opened on the empty area offers nothing; the selection still stands after.
  RightClickBelowItems(*f);
  EXPECT_FALSE(f->Export1->isEnabled());
  CloseMenu(*f);
  EXPECT_TRUE(f->Export1->isEnabled());
  f->FileListBox->setItemIndex(-1);
  EXPECT_FALSE(f->Export1->isEnabled());
}

TEST_F(ExportCommand, FailuresAreSaidInFrenchAndWriteNothing) {
  struct Case {
    std::string target;
    const char *says;
  };
  const Case cases[] = {
      {fOut + "/a.txt", "Le fichier \"a.txt\" n'a pas l'extension d'un type d'export"},
      {fOut + "/missing/a.eml", "Impossible d'exporter le modèle \"a.plm\".\n"},
  };
  auto f = Open(fLetters);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.target);
    fMessages.clear();
    fSaveAnswers = {QString::fromStdString(c.target)};
    f->Export1->trigger();
    ASSERT_EQ(fMessages.size(), 1u);
    EXPECT_EQ(fMessages[0].type, TMsgDlgType::mtError);
    EXPECT_TRUE(fMessages[0].text.startsWith(QString::fromUtf8(c.says)))
        << fMessages[0].text.toStdString();
    EXPECT_FALSE(FileExists(c.target));
  }
  EXPECT_TRUE(SavePath.empty());
}

TEST_F(ExportCommand, TheDialogOffersBothTypesAndANameTakesTheTypeChosen) {
  SetSaveDialogHandler(nullptr); // Qt's own dialog, answered by keyboard
  auto f = Open(fLetters);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  SavePath = fOut + "/";
  EXPECT_TRUE(WhileModal(
      "QFileDialog", [&] { f->Export1->trigger(); },
      [&](QWidget &w) {
        auto &dlg = static_cast<QFileDialog &>(w);
        EXPECT_EQ(dlg.directory().absolutePath().toStdString(), fOut);
        auto *types = dlg.findChild<QComboBox *>("fileTypeCombo");
        auto *name = dlg.findChild<QLineEdit *>("fileNameEdit");
        ASSERT_TRUE(types && name);
        ASSERT_EQ(types->count(), 2);
        EXPECT_EQ(types->itemText(0), QString::fromUtf8("Modèle de message (*.eml)"));
        EXPECT_EQ(types->itemText(1), QString::fromUtf8("Page autonome (*.html)"));
        EXPECT_EQ(name->text(), "a.eml");
        types->setFocus();
        QTest::keyClick(types, Qt::Key_Down);
        EXPECT_EQ(name->text(), "a.html");
        name->setText("lettre");
        QTest::keyClick(name, Qt::Key_Return);
      }));
  EXPECT_EQ(Head(fOut + "/lettre.html", 6), "<html>");
  EXPECT_FALSE(FileExists(fOut + "/lettre.eml"));
}
