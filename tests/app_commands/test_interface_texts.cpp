// What the user reads around the windows: each title bar shows the window's caption
// alone, and Qt's own texts (standard buttons, the file dialog, edit menus) and the
// browser's are French whatever the locale of the machine running the tests.
#include "CommandsFixture.h"
#include "Pictures.h"
#include "Templates.h"
#include "app/UAbout.h"
#include "app/U_ViewPic.h"
#include "app/Uglobalvar.h"
#include "platform/FileSys.h"
#include "platform/gui/Dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace plm;
using namespace fixtures;

namespace {

// The title the window manager shows: _NET_WM_NAME as the X server holds it. Empty off X.
QString TitleOnScreen(QWidget &w) {
  auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !w.windowHandle()) return {};
  xcb_connection_t *c = x11->connection();
  auto atom = [c](const char *name) {
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    return a;
  };
  const xcb_atom_t name = atom("_NET_WM_NAME"), utf8 = atom("UTF8_STRING");
  // The reply comes after every request Qt made before on the same connection.
  xcb_get_property_reply_t *r = xcb_get_property_reply(
      c, xcb_get_property(c, 0, xcb_window_t(w.winId()), name, utf8, 0, 1024), nullptr);
  QString title;
  if (r)
    title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(r)),
                              xcb_get_property_value_length(r));
  free(r);
  return title;
}

void ExpectCaption(QWidget &w, const QString &caption) {
  EXPECT_EQ(w.windowTitle(), caption);
  ASSERT_NE(w.windowHandle(), nullptr);
  EXPECT_EQ(w.windowHandle()->title(), caption);
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    EXPECT_EQ(TitleOnScreen(w), caption);
  }
}

// The buttons' texts without their shortcut marks, in alphabetical order.
QStringList ButtonTexts(const QList<QAbstractButton *> &buttons) {
  QStringList texts;
  for (const QAbstractButton *b : buttons)
    texts << QString(b->text()).remove('&');
  texts.sort();
  return texts;
}

class InterfaceTexts : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("letters");
    WriteSimpleTemplate(fLetters + "/Mer.plm", "Mer", {{"vagues.png", Png(40, 30)}});
    Template(fLetters, "Terre.plm", "Terre");
  }
  std::unique_ptr<TF_Main> Previewed() {
    auto f = Open(fLetters);
    LeftClick(*f, 0);
    EXPECT_TRUE(WaitForPreview(*f));
    return f;
  }
  std::string fLetters;
};

} // namespace

TEST_F(InterfaceTexts, TitleBarsShowTheCaptionsAlone) {
  // The program's message boxes carry its title; no window shares it.
  SetApplicationTitle(QStringLiteral("Visualisateur Plumora"));
  auto f = Previewed();
  ExpectCaption(*f, QString::fromUtf8("Visualisateur de modèle de lettre Plumora"));

  ASSERT_EQ(f->Listimages->count(), 1);
  f->Listimages->setCurrentRow(0);
  EXPECT_TRUE(WhileModal(
      "TF_ViewPic", [&] { f->ListimagesDblClick(); },
      [](QWidget &w) { ExpectCaption(w, "vagues.png"); }));

  EXPECT_TRUE(WhileModal(
      "TFAbout", [&] { f->AboutboxClick(); },
      [](QWidget &w) {
        ExpectCaption(w, QString::fromUtf8("Au sujet du Visualisateur d'élément d'Plumora"));
      }));

  // A message box with no title of its own takes the program's.
  SetMessageHandler(nullptr); // the real box
  EXPECT_TRUE(WhileModal(
      "QMessageBox", [] { ShowMessage(nullptr, "Bonjour"); },
      [](QWidget &box) { ExpectCaption(box, "Visualisateur Plumora"); }));
  SetApplicationTitle(QString());
}

TEST_F(InterfaceTexts, TheDeleteQuestionAnswersOuiOrAnnuler) {
  auto f = Previewed();
  const std::string mer = fLetters + "/Mer.plm";
  SetMessageHandler(nullptr); // the real box
  auto ask = [&](QMessageBox::StandardButton answer) {
    return WhileModal(
        "QMessageBox", [&] { f->Removefile1Click(); },
        [&](QWidget &w) {
          auto &box = static_cast<QMessageBox &>(w);
          EXPECT_EQ(box.text(), "Voulez-vous vraiment effacer 'Mer.plm'?");
          EXPECT_EQ(ButtonTexts(box.buttons()), QStringList({"Annuler", "Oui"}));
          ASSERT_NE(box.defaultButton(), nullptr);
          EXPECT_EQ(box.defaultButton()->text().remove('&'), "Oui");
          ASSERT_NE(box.escapeButton(), nullptr);
          EXPECT_EQ(box.escapeButton()->text().remove('&'), "Annuler");
          box.button(answer)->click();
        });
  };
  EXPECT_TRUE(ask(QMessageBox::Cancel));
  EXPECT_TRUE(FileExists(mer));
  EXPECT_TRUE(ask(QMessageBox::Yes));
  EXPECT_FALSE(FileExists(mer));
  EXPECT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabDisplay->text(), "Terre");
}

TEST_F(InterfaceTexts, TheSaveDialogIsFrench) {
  const std::string picture = Folder("preview") + "/vagues.PNG";
  WriteBytes(picture, Png(40, 30));
  TF_ViewPic w;
  w.AdvImage1->SetImageName(picture);
  w.SourceFile = picture;
  SetSaveDialogHandler(nullptr); // the real dialog
  EXPECT_TRUE(WhileModal(
      "QFileDialog", [&] { w.SavepicasClick(); },
      [](QWidget &dlg) {
        auto *buttons = dlg.findChild<QDialogButtonBox *>();
        ASSERT_NE(buttons, nullptr);
        EXPECT_EQ(ButtonTexts(buttons->buttons()), QStringList({"Annuler", "Enregistrer"}));
        auto *nameLabel = dlg.findChild<QLabel *>("fileNameLabel");
        ASSERT_NE(nameLabel, nullptr);
        EXPECT_EQ(nameLabel->text().remove('&'), "Nom de fichier :");
        auto *name = dlg.findChild<QLineEdit *>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), "vagues.PNG");
        static_cast<QFileDialog &>(dlg).reject();
      }));
  EXPECT_TRUE(SavePath.empty()); // cancelled
}

TEST_F(InterfaceTexts, EditMenusOfQtAreFrench) {
  auto f = Open(fLetters);
  const std::unique_ptr<QMenu> menu(f->Qualvalue->createStandardContextMenu());
  QStringList texts;
  for (const QAction *a : menu->actions())
    if (!a->isSeparator()) texts << a->text().section('\t', 0, 0).remove('&');
  EXPECT_TRUE(texts.contains("Copier")) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.contains(QString::fromUtf8("Tout sélectionner")))
      << texts.join('|').toStdString();
  // The browser's menu texts, from Qt's catalogue or the program's own.
  QWebEnginePage *page = f->WebBrowser->page();
  EXPECT_EQ(page->action(QWebEnginePage::Copy)->text(), "Copier");
  EXPECT_EQ(page->action(QWebEnginePage::Back)->text(), QString::fromUtf8("Précédent"));
}

TEST_F(InterfaceTexts, TheBrowserSpeaksFrench) {
  auto f = Previewed();
  // Page scripts are off; the application's own world still runs.
  QVariant language;
  f->WebBrowser->page()->runJavaScript(
      "navigator.language + ' ' + Intl.DateTimeFormat().resolvedOptions().locale",
      QWebEngineScript::ApplicationWorld, [&](const QVariant &v) { language = v; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return language.isValid(); }, 30000));
  const QStringList parts = language.toString().split(' ');
  ASSERT_EQ(parts.size(), 2);
  EXPECT_TRUE(parts[0].startsWith("fr")) << language.toString().toStdString();
  EXPECT_TRUE(parts[1].startsWith("fr")) << language.toString().toStdString();
}
