// What a screen reader finds through Qt's accessibility interfaces: every control of the
// three windows reachable from the application, named in French and described by its
// hint; the information labels named by their captions alone; the right-button menus
// in the tree, with their items, exactly while they are open.
#include "CommandsFixture.h"
#include "Pictures.h"
#include "Templates.h"
#include "app/UAbout.h"
#include "app/U_ViewPic.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace plm;
using namespace fixtures;

namespace {

QString Name(QObject *o) {
  QAccessibleInterface *i = QAccessible::queryAccessibleInterface(o);
  return i ? i->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// Walks from the interface up to the application; each parent must list its child.
::testing::AssertionResult ReachableFromApplication(QAccessibleInterface *iface) {
  QAccessibleInterface *app = QAccessible::queryAccessibleInterface(qApp);
  const QString start = iface ? iface->text(QAccessible::Name) : QString();
  for (int depth = 0; iface && depth < 64; ++depth) {
    if (iface == app) return ::testing::AssertionSuccess();
    QAccessibleInterface *parent = iface->parent();
    if (!parent)
      return ::testing::AssertionFailure()
             << "no parent above \"" << iface->text(QAccessible::Name).toStdString() << "\"";
    const int index = parent->indexOfChild(iface);
    if (index < 0 || parent->child(index) != iface)
      return ::testing::AssertionFailure()
             << "\"" << iface->text(QAccessible::Name).toStdString() << "\" (from \""
             << start.toStdString() << "\") is not among the children of its parent \""
             << parent->text(QAccessible::Name).toStdString() << "\"";
    iface = parent;
  }
  return ::testing::AssertionFailure() << "the application is never reached";
}

bool ListedByApplication(QObject *o) {
  QAccessibleInterface *app = QAccessible::queryAccessibleInterface(qApp);
  QAccessibleInterface *i = QAccessible::queryAccessibleInterface(o);
  for (int c = 0; c < app->childCount(); ++c)
    if (app->child(c) == i) return true;
  return false;
}

// Every control that the window's design names: reachable, named (labels by their
// caption, so an empty caption gives an empty name), its hint as description.
void ExpectEveryControlNamed(QWidget &window, const QStringList &containers = {}) {
  ASSERT_TRUE(ReachableFromApplication(QAccessible::queryAccessibleInterface(&window)));
  EXPECT_FALSE(Name(&window).isEmpty());
  int checked = 0;
  for (QWidget *w : window.findChildren<QWidget *>()) {
    const QString id = w->objectName();
    if (id.isEmpty() || id.startsWith("qt_") || containers.contains(id) || w->isWindow()) continue;
    ++checked;
    QAccessibleInterface *i = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(i, nullptr) << id.toStdString();
    EXPECT_TRUE(ReachableFromApplication(i)) << id.toStdString();
    const QString name = i->text(QAccessible::Name);
    auto *label = qobject_cast<QLabel *>(w);
    if (label && label->pixmap().isNull()) {
      EXPECT_EQ(name, label->text()) << id.toStdString();
    } else {
      EXPECT_FALSE(name.trimmed().isEmpty()) << id.toStdString();
    }
    if (!w->toolTip().isEmpty()) {
      EXPECT_EQ(i->text(QAccessible::Description), w->toolTip()) << id.toStdString();
    }
  }
  EXPECT_GT(checked, 0);
}

// The menu while open: in the tree under the application, with its items.
void ExpectOpenMenu(QMenu *menu, const QString &name, const QStringList &items) {
  ASSERT_TRUE(menu->isVisible());
  QAccessibleInterface *i = QAccessible::queryAccessibleInterface(menu);
  EXPECT_EQ(i->role(), QAccessible::PopupMenu);
  EXPECT_EQ(i->text(QAccessible::Name), name);
  EXPECT_TRUE(ListedByApplication(menu));
  EXPECT_TRUE(ReachableFromApplication(i));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(qApp)->focusChild(), i);
  ASSERT_EQ(i->childCount(), items.size());
  for (int c = 0; c < items.size(); ++c) {
    QAccessibleInterface *item = i->child(c);
    EXPECT_EQ(item->role(), QAccessible::MenuItem);
    EXPECT_EQ(item->text(QAccessible::Name), items[c]);
    EXPECT_EQ(bool(item->state().disabled), !menu->actions()[c]->isEnabled()) << c;
    EXPECT_TRUE(ReachableFromApplication(item));
  }
}

void OpenByKeyboard(QWidget *w) {
  QContextMenuEvent e(QContextMenuEvent::Keyboard, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(w, &e);
}

class Accessibility : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("letters");
    WriteSimpleTemplate(fLetters + "/Mer.plm", "Mer", {{"vagues.png", Png(40, 30)}});
  }
  std::string fLetters;
};

} // namespace

TEST_F(Accessibility, EveryControlOfTheMainWindowIsNamed) {
  auto f = Open(fLetters);
  // FormClient only lays the controls out under the menu bar.
  ExpectEveryControlNamed(*f, {"FormClient"});
  EXPECT_EQ(Name(f.get()), QString::fromUtf8("Visualisateur de modèle de lettre Plumora"));
  EXPECT_EQ(Name(f->Snapshot_btn),
            QString::fromUtf8("Enregistrer la capture d'écran de l'exemple"));
  EXPECT_EQ(Name(f->CB_UsualFolder), QString::fromUtf8("Répertoire habituel"));
  EXPECT_EQ(Name(f->ShellTree), "Localisation du fichier *.plm");
  EXPECT_EQ(Name(f->FileListBox), "Fichiers *.plm");
  EXPECT_EQ(Name(f->TrackBar1), QString::fromUtf8("Compression/Qualité"));
  EXPECT_EQ(Name(f->Qualvalue), QString::fromUtf8("Qualité"));
  EXPECT_EQ(Name(f->coefsize), "Redimensionnement (%)");
  EXPECT_EQ(Name(f->WebBrowser), "Exemple de la lettre");
  EXPECT_EQ(Name(f->GroupBox1), "Infos de la lettre");
  EXPECT_EQ(Name(f->LabCollection), "");
  EXPECT_EQ(Name(f->Labimageinfo), "");

  // The menu bar's menus and their items.
  QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(f->MainMenu);
  ASSERT_EQ(bar->childCount(), 2);
  EXPECT_EQ(bar->child(0)->text(QAccessible::Name), "Fichier");
  // The "?" item is read by what it opens; pressing it through its interface opens it.
  QAccessibleInterface *about = bar->child(1);
  EXPECT_EQ(about->text(QAccessible::Name),
            QString::fromUtf8("Au sujet du Visualisateur d'élément d'Plumora"));
  EXPECT_EQ(about->role(), QAccessible::MenuItem);
  EXPECT_EQ(about->parent()->object(), f->MainMenu);
  EXPECT_EQ(bar->indexOfChild(about), 1);
  EXPECT_FALSE(about->rect().isEmpty());
  ASSERT_NE(about->actionInterface(), nullptr);
  EXPECT_EQ(about->actionInterface()->actionNames(),
            QStringList{QAccessibleActionInterface::pressAction()});
  QString opened;
  QTimer::singleShot(0, [&] {
    if (QWidget *w = QApplication::activeModalWidget()) {
      opened = w->windowTitle();
      w->close();
    }
  });
  about->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(opened, QString::fromUtf8("Au sujet du Visualisateur d'élément d'Plumora"));
  QAccessibleInterface *file = bar->child(0)->child(0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->role(), QAccessible::PopupMenu);
  EXPECT_EQ(file->text(QAccessible::Name), "Fichier");
  ASSERT_EQ(file->childCount(), 2);
  EXPECT_EQ(file->child(0)->text(QAccessible::Name), QString::fromUtf8("Exporter…"));
  EXPECT_EQ(file->child(1)->text(QAccessible::Name), "Quitter");
}

TEST_F(Accessibility, InformationLabelsAreNamedByTheirCaptionsAlone) {
  auto f = Open(fLetters);
  for (QLabel *l : std::initializer_list<QLabel *>{f->LabCollection, f->LabDisplay, f->LabFont,
                                                   f->LabTrademark})
    EXPECT_EQ(Name(l), "") << l->objectName().toStdString();
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(Name(f->LabDisplay), "Mer");
  EXPECT_EQ(Name(f->Labimageinfo), f->Labimageinfo->text());
  EXPECT_TRUE(Name(f->Labimageinfo).startsWith("Image Type: PNG"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(f->LabFont)->text(QAccessible::Description),
            QString::fromUtf8("Si c'est rouge, la police n'est pas installée sur votre système"));
  // Each value says which caption labels it (besides its group).
  QList<QObject *> labels;
  for (const auto &[by, relation] :
       QAccessible::queryAccessibleInterface(f->LabDisplay)->relations(QAccessible::Label))
    labels << by->object();
  EXPECT_TRUE(labels.contains(f->Label3));
  EXPECT_FALSE(labels.contains(f->Label2));
}

TEST_F(Accessibility, TheFileListMenuIsInTheTreeWhileOpen) {
  auto f = Open(fLetters);
  QAccessibleInterface *menu = QAccessible::queryAccessibleInterface(f->Popuplistfile);
  EXPECT_FALSE(ListedByApplication(f->Popuplistfile));
  RightClick(*f, 0);
  ExpectOpenMenu(f->Popuplistfile, "Gestion du fichier",
                 {"Supprimer fichier", "Installer la  lettre", QString::fromUtf8("Exporter…")});
  CloseMenu(*f);
  EXPECT_FALSE(ListedByApplication(f->Popuplistfile));
  EXPECT_NE(QAccessible::queryAccessibleInterface(qApp)->focusChild(), menu);

  // Opened from the keyboard on the empty area: the items are there, disabled.
  f->FileListBox->setItemIndex(-1);
  OpenByKeyboard(f->FileListBox);
  ExpectOpenMenu(f->Popuplistfile, "Gestion du fichier",
                 {"Supprimer fichier", "Installer la  lettre", QString::fromUtf8("Exporter…")});
  CloseMenu(*f);
}

TEST_F(Accessibility, TheUsualFoldersMenuIsInTheTreeWhileOpen) {
  auto f = Open(fLetters);
  OpenByKeyboard(f->CB_UsualFolder);
  ExpectOpenMenu(f->PPMn_UsualFolder, QString::fromUtf8("Répertoires habituels"),
                 {QString::fromUtf8("Ajouter le répertoire sélectionné aux habituels"),
                  QString::fromUtf8("Retirer le répertoire sélectionné des habituels")});
  f->PPMn_UsualFolder->close();
  EXPECT_FALSE(ListedByApplication(f->PPMn_UsualFolder));
}

TEST_F(Accessibility, ThePictureWindowAndItsMenu) {
  const std::string picture = Folder("preview") + "/vagues.PNG";
  WriteBytes(picture, Png(40, 30));
  TF_ViewPic w;
  w.setWindowTitle("vagues.png");
  w.AdvImage1->SetImageName(picture);
  w.SetClientSize(128, 128);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ExpectEveryControlNamed(w);
  EXPECT_EQ(Name(&w), "vagues.png");
  EXPECT_EQ(Name(w.AdvImage1), "Image");

  OpenByKeyboard(w.AdvImage1);
  ExpectOpenMenu(w.Savepic, "Image", {"Enregistrer l'image sous ..."});
  w.Savepic->close();
  EXPECT_FALSE(ListedByApplication(w.Savepic));
}

TEST_F(Accessibility, TheAboutWindow) {
  TFAbout about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  ExpectEveryControlNamed(about);
  EXPECT_EQ(Name(&about), QString::fromUtf8("Au sujet du Visualisateur d'élément d'Plumora"));
  EXPECT_EQ(Name(about.Button1), "Fermer");
  EXPECT_EQ(Name(about.Memo1), "Note");
}
