// The gallery window with the main window: what it lists and in which order, its pictures
// and failure tiles as a screen reader finds them, the selection both ways, the folder and
// its changes on disk, and its place kept in the settings. Pictures come from a source of
// the test's own, answering when the test says so.
#include "../app_commands/CommandsFixture.h"
#include "../app_commands/Templates.h"
#include "app/GalleryExport.h"
#include "app/GalleryLink.h"
#include "app/GallerySearch.h"
#include "app/UGallery.h"
#include "app/Uglobalvar.h"
#include "gallery/ThumbnailProvider.h"
#include "gallery/ThumbnailSource.h"
#include "platform/AppPaths.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/gui/Dialogs.h"
#include "tests/ScopedEnv.h"

#include <glib.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <map>
#include "tests/support/QtTry.h"

using namespace plm;
using namespace fixtures;

namespace {

class FakeSource : public TThumbnailSource {
public:
  std::vector<std::string> Templates, Visible, Refreshed;
  std::map<std::string, QString> Failing; // path -> reason

  void setTemplates(const std::vector<std::string> &paths) override {
    Templates = paths;
    fAnswered = 0;
    emit progressChanged(fAnswered, total());
  }
  void setVisible(const std::vector<std::string> &paths) override { Visible = paths; }
  void refresh(const std::string &path) override { Refreshed.push_back(path); }
  int answered() const override { return fAnswered; }
  int total() const override { return int(Templates.size()); }

  // Answers every template asked: a picture 200 x 150 of its own colour, or its failure.
  void AnswerAll() {
    int hue = 0;
    for (const auto &path : Templates) {
      if (const auto f = Failing.find(path); f != Failing.end()) {
        emit thumbnailFailed(path, f->second);
      } else {
        QImage picture(200, 150, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(hue, 200, 200));
        emit thumbnailReady(path, picture);
      }
      hue = (hue + 40) % 360;
      emit progressChanged(++fAnswered, total());
    }
  }

private:
  int fAnswered = 0;
};

class GalleryWindow : public CommandsTest {
protected:
  // The main window on folder, with the gallery tied to it (not opened).
  std::unique_ptr<TF_Main> Main(const std::string &folder) {
    auto main = Open(folder);
    // Modal for the whole application, as the program runs it: the gallery must not be
    // blocked by it.
    main->hide();
    main->setWindowModality(Qt::ApplicationModal);
    main->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    fLink = new TGalleryLink(*main, [this] {
      auto source = std::make_unique<FakeSource>();
      fSource = source.get();
      return source;
    });
    fLink->SetCatalogueFile(fRoot + "/cache/catalogue.sqlite");
    return main;
  }
  TF_Gallery &OpenGallery() {
    fLink->OpenAction->trigger();
    EXPECT_NE(fLink->Window(), nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(fLink->Window()));
    // Opened, it is made the active window: keys and its shortcuts (Escape) reach it then.
    EXPECT_TRUE(QTest::qWaitForWindowActive(fLink->Window()));
    return *fLink->Window();
  }
  static std::vector<std::string> Rows(TF_Gallery &g) {
    std::vector<std::string> rows;
    for (int r = 0; r < g.Model().rowCount(); ++r)
      rows.push_back(ExtractFileName(g.Model().PathAt(r)));
    return rows;
  }
  static std::vector<std::string> ListItems(TF_Main &f) {
    std::vector<std::string> items;
    for (int i = 0; i < f.FileListBox->count(); ++i)
      items.push_back(f.FileListBox->ItemText(i));
    return items;
  }
  static int GridRow(TF_Gallery &g) { return g.Model().RowOf(g.SelectedPath()); }

  TGalleryLink *fLink = nullptr;
  FakeSource *fSource = nullptr;
};

TEST_F(GalleryWindow, OpensOnF4WithPlaceholdersThenPicturesAndNamedFailures) {
  const std::string dir = Folder("modeles");
  for (const char *name : {"b.plm", "A.plm", "c.plm"})
    Template(dir, name, name);
  WriteFileBytes(dir + "/notes.txt", "pas un modèle");
  auto main = Main(dir);

  ASSERT_TRUE(main->File1->actions().contains(fLink->OpenAction));
  EXPECT_EQ(fLink->OpenAction->text(), QString::fromUtf8("Galerie des modèles"));
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
  QTest::keyClick(main.get(), Qt::Key_F4);
  ASSERT_NE(fLink->Window(), nullptr);
  TF_Gallery &g = *fLink->Window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
  EXPECT_EQ(QApplication::activeModalWidget(), main.get());
  EXPECT_TRUE(QTest::qWaitForWindowActive(&g)); // a blocked window is never activated
  EXPECT_EQ(g.windowTitle(), QString::fromUtf8("Galerie des modèles"));
  EXPECT_FALSE(g.isModal());
  QTRY_VERIFY(g.Grid->hasFocus());

  // The file list's templates in its order; opening selects and previews nothing.
  EXPECT_EQ(Rows(g), ListItems(*main));
  EXPECT_EQ(Rows(g), (std::vector<std::string>{"A.plm", "b.plm", "c.plm"}));
  ASSERT_EQ(fSource->Templates.size(), 3u);
  EXPECT_EQ(fSource->Templates[0], dir + "/A.plm");
  EXPECT_EQ(main->FileListBox->ItemIndex(), -1);
  EXPECT_TRUE(g.SelectedPath().empty());
  EXPECT_FALSE(PreviewBusy);
  // Shown ones are asked first once the grid has settled.
  QTRY_COMPARE(fSource->Visible, fSource->Templates);

  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(g.Model().StateAt(r), TGalleryModel::State::Waiting);
    EXPECT_FALSE(g.Model().index(r).data(Qt::DecorationRole).value<QImage>().isNull());
  }
  EXPECT_EQ(g.Progress->text(), QStringLiteral("Vignettes : 0 / 3"));

  const QString reason = QString::fromUtf8("Le modèle est endommagé : archive illisible.");
  fSource->Failing[dir + "/b.plm"] = reason;
  fSource->AnswerAll();
  emit fSource->thumbnailReady(dir + "/gone.plm", QImage(10, 10, QImage::Format_RGB32));
  EXPECT_EQ(g.Model().rowCount(), 3);
  EXPECT_EQ(g.Progress->text(), QStringLiteral("Vignettes : 3 / 3"));
  EXPECT_EQ(g.Model().index(0).data(Qt::DecorationRole).value<QImage>().size(), QSize(200, 150));
  // Drawn in the grid: the middle of each shown tile's picture is its colour.
  const QImage grid = g.Grid->viewport()->grab().toImage();
  for (const int r : {0, 2}) {
    const QRect tile = g.Grid->visualRect(g.Model().index(r));
    const QColor colour = grid.pixelColor(tile.center().x(), tile.top() + tile.height() / 3);
    EXPECT_EQ(colour.rgb(), QColor::fromHsv(40 * r, 200, 200).rgb()) << r;
  }
  EXPECT_EQ(g.Model().StateAt(1), TGalleryModel::State::Failed);
  EXPECT_EQ(g.Model().index(1).data(Qt::ToolTipRole).toString(), reason);

  // On the accessibility tree: a list of items named by file name, described by their
  // display name and collection once the catalogue has read them, the failure by its reason.
  QAccessibleInterface *list = QAccessible::queryAccessibleInterface(g.Grid);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->role(), QAccessible::List);
  EXPECT_FALSE(list->text(QAccessible::Name).isEmpty());
  ASSERT_EQ(list->childCount(), 3);
  const QStringList names = {"A.plm", "b.plm", "c.plm"};
  for (int i = 0; i < 3; ++i) {
    QAccessibleInterface *item = list->child(i);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->role(), QAccessible::ListItem);
    EXPECT_EQ(item->text(QAccessible::Name), names[i]);
  }
  QTRY_COMPARE(list->child(0)->text(QAccessible::Description), QStringLiteral("A.plm, Essais"));
  QTRY_COMPARE(list->child(2)->text(QAccessible::Description), QStringLiteral("c.plm, Essais"));
  EXPECT_EQ(list->child(1)->text(QAccessible::Description), reason);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(g.Progress)->text(QAccessible::Name),
            g.Progress->text());
}

// What is on screen is asked first, and scrolling moves the work there. A filter's entries
// carry a second line under the name; the name alone stays what is read out.
TEST(GalleryGrid, AsksForWhatIsShownFirst) {
  FakeSource source;
  TF_Gallery g(source, nullptr);
  std::vector<TGalleryEntry> entries;
  for (int i = 0; i < 60; ++i)
    entries.push_back({"/modeles/m" + std::to_string(100 + i) + ".plm",
                       i == 0 ? QStringLiteral("sous-dossier") : QString(), QString()});
  g.ShowTemplates(entries);
  g.resize(700, 500);
  g.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
  EXPECT_EQ(source.Templates.size(), 60u);
  QTRY_VERIFY(!source.Visible.empty());
  EXPECT_EQ(source.Visible.front(), entries.front().Path);
  EXPECT_LT(source.Visible.size(), 20u);
  EXPECT_EQ(g.Model().index(0).data(Qt::DisplayRole).toString(),
            QStringLiteral("m100.plm\nsous-dossier"));
  EXPECT_EQ(g.Model().index(0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("m100.plm"));

  g.SelectPath(entries.front().Path);
  g.Grid->scrollToBottom();
  QTRY_COMPARE(source.Visible.back(), entries.back().Path);
  EXPECT_LT(source.Visible.size(), 20u);
  EXPECT_NE(source.Visible.front(), entries.front().Path);

  // The same templates listed again (a rewrite on disk): the view stays where the user
  // scrolled it, away from the selection.
  const int scrolled = g.Grid->verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);
  g.ShowTemplates(entries);
  g.Grid->doItemsLayout(); // what a reset would have led to
  EXPECT_EQ(g.Grid->verticalScrollBar()->value(), scrolled);
}

// Keys in the grid select in the main list and preview there, as a click in the list does.
// The shown run of rows, from tiles three to a row, 100 pixels high, on a screen of rows 2
// to 4 (y 200 to 499); tiles from laid on are not laid out yet.
struct ShownCase {
  int rows, laid, first, end;
};
class ShownRowsTable : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ShownRowsTable, FindsTheTilesOnScreen) {
  const ShownCase c = GetParam();
  const auto rect = [&](int row) {
    return row < c.laid ? QRect((row % 3) * 100, (row / 3) * 100, 100, 100) : QRect();
  };
  EXPECT_EQ(ShownRows(c.rows, rect, QRect(0, 200, 300, 300)), std::make_pair(c.first, c.end));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ShownRowsTable,
    ::testing::Values(ShownCase{10000, 10000, 6, 15}, // all laid out
                      ShownCase{10000, 100, 6, 15},   // a first batch: the rest comes after
                      ShownCase{10000, 10, 6, 10},    // the screen half laid out
                      ShownCase{10000, 3, 3, 3},      // nothing laid out on the screen yet
                      ShownCase{10, 10, 6, 10},       // the end of the list on the screen
                      ShownCase{0, 0, 0, 0}));

TEST_F(GalleryWindow, SelectionGoesBothWays) {
  const std::string dir = Folder("modeles");
  for (int i = 0; i < 5; ++i)
    Template(dir, "m" + std::to_string(i) + ".plm", "Modèle " + std::to_string(i));
  auto main = Main(dir);
  TF_Gallery &g = OpenGallery();

  struct Step {
    Qt::Key key;
    int row;
  };
  for (const Step s : {Step{Qt::Key_Right, 0}, Step{Qt::Key_Right, 1}, Step{Qt::Key_End, 4},
                       Step{Qt::Key_Left, 3}, Step{Qt::Key_Home, 0}}) {
    QSignalSpy previewed(main.get(), &TF_Main::DownloadComplete);
    QTest::keyClick(g.Grid, s.key);
    EXPECT_EQ(GridRow(g), s.row) << s.key;
    EXPECT_EQ(main->FileListBox->ItemIndex(), s.row) << s.key;
    ASSERT_TRUE(previewed.wait(30000)) << s.key;
    EXPECT_EQ(main->LabDisplay->text(), QString::fromUtf8("Modèle %1").arg(s.row));
  }
  QTest::keyClick(g.Grid, Qt::Key_PageDown);
  EXPECT_GT(GridRow(g), 0);
  EXPECT_EQ(main->FileListBox->ItemIndex(), GridRow(g));
  ASSERT_TRUE(WaitForPreview(*main));

  // The main list's selection moves the grid's.
  LeftClick(*main, 2);
  EXPECT_EQ(GridRow(g), 2);
  ASSERT_TRUE(WaitForPreview(*main));

  // Enter and a double click choose the template and bring the main window forward.
  g.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
  QTest::keyClick(g.Grid, Qt::Key_Right);
  ASSERT_TRUE(WaitForPreview(*main));
  QTest::keyClick(g.Grid, Qt::Key_Return);
  EXPECT_EQ(main->FileListBox->ItemIndex(), 3);
  QTRY_VERIFY(main->isActiveWindow());

  g.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
  const QPoint at = g.Grid->visualRect(g.Model().index(1)).center();
  QSignalSpy previewed(main.get(), &TF_Main::DownloadComplete);
  QTest::mouseDClick(g.Grid->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(main->FileListBox->ItemIndex(), 1);
  // Checked at once: here, without a window manager, the gallery takes the focus back a
  // moment after a double click (not after Enter).
  EXPECT_TRUE(main->isActiveWindow());
  EXPECT_TRUE(previewed.wait(30000));
}

// Several templates selected from the keyboard and the mouse, as a screen reader finds
// them, the current one previewed; then the selection and the folder exported in one go,
// off the interface thread, each ending with its summary.
TEST_F(GalleryWindow, SelectsSeveralAndExportsThemInOneGo) {
  const std::string dir = Folder("lot");
  for (int i = 0; i < 5; ++i)
    Template(dir, "m" + std::to_string(i) + ".plm", "Modèle " + std::to_string(i));
  auto main = Main(dir);
  TF_Gallery &g = OpenGallery();
  QAccessibleInterface *list = QAccessible::queryAccessibleInterface(g.Grid);
  ASSERT_NE(list, nullptr);
  const auto selected = [&] {
    std::vector<int> rows;
    for (int i = 0; i < list->childCount(); ++i)
      if (list->child(i)->state().selected) rows.push_back(i);
    return rows;
  };

  QTest::keyClick(g.Grid, Qt::Key_Home);
  ASSERT_TRUE(WaitForPreview(*main));
  QTest::keyClick(g.Grid, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(g.Grid, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(main->FileListBox->ItemIndex(), 2) << "the current template is previewed";
  ASSERT_TRUE(WaitForPreview(*main));
  QTest::keyClick(g.Grid, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2, 3, 4}));
  const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
    QTest::mouseClick(g.Grid->viewport(), Qt::LeftButton, modifiers,
                      g.Grid->visualRect(g.Model().index(row)).center());
  };
  click(1, Qt::ControlModifier);
  EXPECT_EQ(selected(), (std::vector<int>{0, 2, 3, 4}));
  click(4, {});
  ASSERT_TRUE(WaitForPreview(*main));
  click(3, Qt::ShiftModifier);
  EXPECT_EQ(selected(), (std::vector<int>{3, 4}));
  EXPECT_EQ(main->FileListBox->ItemIndex(), 3);
  ASSERT_TRUE(WaitForPreview(*main));
  EXPECT_EQ(g.SelectedPaths(), (std::vector<std::string>{dir + "/m3.plm", dir + "/m4.plm"}));

  const std::string out = fRoot + "/sortie";
  std::vector<bool> askedForFolder;
  TBatchChoice next;
  SetBatchChoiceHandler([&](bool forFolder) {
    askedForFolder.push_back(forFolder);
    return std::optional<TBatchChoice>(next);
  });
  const auto finished = [&]() -> QString {
    auto *window = g.findChild<TBatchProgress *>();
    if (!window) return {};
    if (!window->Finished()) {
      QSignalSpy done(window, &TBatchProgress::BatchFinished);
      EXPECT_TRUE(done.wait(30000));
    }
    const QString summary = window->Summary->toPlainText();
    window->CancelButton->click(); // "Fermer" now
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.findChild<TBatchProgress *>() == nullptr; }));
    return summary;
  };

  next = {TBatchKind::Messages, out, false};
  g.ExportSelectionAction->trigger();
  EXPECT_EQ(finished(),
            QString::fromUtf8("Exportation terminée : 2 modèle(s) exporté(s) sur 2, 0 en échec."));
  EXPECT_TRUE(FileExists(out + "/m3.eml"));
  EXPECT_TRUE(FileExists(out + "/m4.eml"));
  EXPECT_EQ(SavePath, out);

  WriteFileBytes(dir + "/casse.plm", "pas un cabinet");
  next = {TBatchKind::Mailbox, out + "/tout.mbox", false};
  g.ExportFolderAction->trigger();
  const QString summary = finished();
  EXPECT_TRUE(summary.startsWith(
      QString::fromUtf8("Exportation terminée : 5 modèle(s) exporté(s) sur 6, 1 en échec.\ncasse.plm : ")))
      << summary.toStdString();
  std::string mbox;
  ASSERT_TRUE(ReadFileBytes(out + "/tout.mbox", mbox));
  EXPECT_EQ(mbox.rfind("From ", 0), 0u);
  EXPECT_EQ(askedForFolder, (std::vector<bool>{false, true}));
  SetBatchChoiceHandler({});
}

// A folder handed over while the gallery is open leaves no current item in the grid: each
// key then goes where it says, End to the last template, not to the first.
TEST_F(GalleryWindow, KeysFromNoCurrentItemGoWhereTheySay) {
  const std::string first = Folder("un"), second = Folder("saisons");
  Template(first, "seul.plm", "Seul");
  for (const char *name : {"\xC3\x89t\xC3\xA9", "hiver", "Mer", "montagne", "No\xC3\xABl", "printemps"})
    Template(second, std::string(name) + ".plm", name);
  auto main = Main(first);
  TF_Gallery &g = OpenGallery();
  main->setShellTreePath(second);
  ASSERT_EQ(g.Model().rowCount(), 6);
  fSource->AnswerAll();
  const std::vector<std::string> rows = Rows(g);

  struct Step {
    Qt::Key key;
    int row; // -1: below the first row
  };
  // Each step moves the main window's selection, so that each gives a preview to wait for.
  for (const Step s : {Step{Qt::Key_End, 5}, Step{Qt::Key_Home, 0}, Step{Qt::Key_PageDown, -1},
                       Step{Qt::Key_Right, 0}, Step{Qt::Key_End, 5}}) {
    g.SelectPath("");
    g.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
    g.Grid->setFocus(Qt::ActiveWindowFocusReason);
    ASSERT_FALSE(g.Grid->currentIndex().isValid());
    QTest::keyClick(g.Grid, s.key);
    if (s.row >= 0)
      EXPECT_EQ(GridRow(g), s.row) << s.key;
    else
      EXPECT_GT(GridRow(g), 0) << s.key;
    ASSERT_GE(GridRow(g), 0);
    EXPECT_EQ(main->FileListBox->FileName(), second + "/" + rows[size_t(GridRow(g))]) << s.key;
    ASSERT_TRUE(WaitForPreview(*main));
  }
}

// The main window's folder and the folder's changes on disk reach the gallery.
TEST_F(GalleryWindow, FollowsTheFolderAndItsChanges) {
  const std::string first = Folder("un"), second = Folder("deux");
  Template(first, "seul.plm", "Seul");
  for (const char *name : {"a.plm", "c.plm"})
    Template(second, name, name);
  auto main = Main(first);
  TF_Gallery &g = OpenGallery();
  EXPECT_EQ(Rows(g), std::vector<std::string>{"seul.plm"});

  main->setShellTreePath(second);
  EXPECT_EQ(Rows(g), (std::vector<std::string>{"a.plm", "c.plm"}));
  EXPECT_EQ(fSource->Templates.size(), 2u);
  main->FileListBox->setItemIndex(1); // c.plm, kept through the changes below
  fSource->AnswerAll();

  // Added and removed templates come and go as rows, never by a reset of the whole grid
  // (which would throw the user's scrolling away), and get their descriptions.
  QSignalSpy resets(&g.Model(), &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&g.Model(), &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&g.Model(), &QAbstractItemModel::rowsRemoved);
  Template(second, "b.plm", "B");
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"a.plm", "b.plm", "c.plm"}));
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1);
  EXPECT_EQ(inserted[0][2].toInt(), 1);
  QTRY_COMPARE(g.Model().index(1).data(Qt::AccessibleDescriptionRole).toString(),
               QStringLiteral("B, Essais"));
  EXPECT_EQ(ListItems(*main), Rows(g));
  EXPECT_EQ(g.SelectedPath(), second + "/c.plm");
  EXPECT_EQ(main->FileListBox->FileName(), second + "/c.plm");
  // Pictures already made stay.
  EXPECT_EQ(g.Model().StateAt(0), TGalleryModel::State::Shown);

  ASSERT_EQ(std::rename((second + "/a.plm").c_str(), (second + "/d.plm").c_str()), 0);
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"b.plm", "c.plm", "d.plm"}));
  DeleteFile(second + "/b.plm");
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"c.plm", "d.plm"}));
  EXPECT_EQ(resets.count(), 0);
  EXPECT_EQ(removed.count(), 2);
  EXPECT_EQ(g.SelectedPath(), second + "/c.plm");

  // Rewritten in place, under the same name: its picture is made again.
  fSource->Refreshed.clear();
  Template(second, "d.plm", "Autre");
  QTRY_COMPARE(fSource->Refreshed, std::vector<std::string>{second + "/d.plm"});
  EXPECT_EQ(g.Model().StateAt(1), TGalleryModel::State::Waiting);

  // The folder deleted while shown: an empty gallery, nothing else.
  std::system(("rm -rf '" + second + "'").c_str());
  QTRY_COMPARE(g.Model().rowCount(), 0);
}

// Its size and place are kept in a section of their own; closing it stops the work.
TEST_F(GalleryWindow, KeepsItsPlaceAndStopsWhenClosed) {
  const std::string dir = Folder("modeles");
  Template(dir, "a.plm", "A");
  {
    auto main = Main(dir);
    TF_Gallery &g = OpenGallery();
    g.resize(640, 480);
    // Escape as a user presses it, to the gallery as the active window: without a window
    // manager, Xvfb at times gives the activation back to the main window just after.
    QTRY_VERIFY([&] {
      if (g.isVisible() && g.isActiveWindow()) QTest::keyClick(g.Grid, Qt::Key_Escape);
      else if (g.isVisible()) g.activateWindow();
      return !g.isVisible();
    }());
    EXPECT_TRUE(fSource->Templates.empty());
    // Open again: the folder is asked for again.
    OpenGallery();
    EXPECT_EQ(fSource->Templates.size(), 1u);
    main->close();
    QTRY_VERIFY(!g.isVisible());
  }
  const TIniFile ini(SettingsFileName());
  EXPECT_EQ(ini.ReadInteger("Gallery", "Width", 0), 640);
  EXPECT_EQ(ini.ReadInteger("Gallery", "Height", 0), 480);
  EXPECT_EQ(ini.ReadString("General", "LastFolder", ""), dir);

  auto main = Main(dir);
  TF_Gallery &g = OpenGallery();
  EXPECT_EQ(g.size(), QSize(640, 480));
}

} // namespace

namespace {
// The window over the real provider: every template gets its picture or its failure.
TEST_F(GalleryWindow, RealProviderFillsTheGrid) {
  const std::string dir = Folder("modeles");
  for (int i = 0; i < 4; ++i)
    Template(dir, "m" + std::to_string(i) + ".plm", "Modèle " + std::to_string(i));
  WriteFileBytes(dir + "/casse.plm", "pas une archive");
  auto main = Open(dir);
  plm::TThumbnailProviderOptions options;
  options.Render.CacheRoot = fRoot + "/cache";
  fLink =
      new TGalleryLink(*main, [&] { return std::make_unique<plm::TThumbnailProvider>(options); });
  TF_Gallery &g = OpenGallery();
  QTRY_COMPARE_WITH_TIMEOUT(g.Progress->text(), QStringLiteral("Vignettes : 5 / 5"), 60000);
  EXPECT_EQ(Rows(g), ListItems(*main));
  EXPECT_EQ(g.Model().StateAt(0), TGalleryModel::State::Failed); // casse.plm
  EXPECT_FALSE(g.Model().index(0).data(Qt::AccessibleDescriptionRole).toString().isEmpty());
  for (int r = 1; r < 5; ++r) {
    EXPECT_EQ(g.Model().StateAt(r), TGalleryModel::State::Shown) << r;
    const QImage picture = g.Model().index(r).data(Qt::DecorationRole).value<QImage>();
    EXPECT_TRUE(picture.width() == 256 || picture.height() == 256) << r;
  }
}
TEST_F(GalleryWindow, SearchFiltersAsTheUserTypesAndOpensAResultsFolder) {
  const std::string dir = Folder("modeles");
  Template(dir, "noel.plm", "Bonhomme de neige");
  Template(dir, "ete.plm", "Plage");
  Template(dir + "/hiver", "sapin.plm", "Sapin de Noël");
  auto main = Main(dir);
  fLink->SetCatalogueFile(fRoot + "/cache/catalogue.sqlite");
  TF_Gallery &g = OpenGallery();
  TGallerySearch &search = *fLink->Search();
  const auto name = [](QWidget *w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(search.SearchEdit), QString::fromUtf8("Rechercher"));
  EXPECT_EQ(name(search.SubfoldersCheck), QString::fromUtf8("Inclure les sous-dossiers"));
  EXPECT_EQ(name(search.MissingFontCheck), QString::fromUtf8("Police non installée seulement"));

  // Accents and case aside, by word prefix, as the user types.
  QTest::keyClicks(search.SearchEdit, "NOË");
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"noel.plm"}));
  search.SubfoldersCheck->setChecked(true);
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"sapin.plm", "noel.plm"}));
  const int sapin = g.Model().RowOf(dir + "/hiver/sapin.plm");
  EXPECT_EQ(g.Model().index(sapin).data(Qt::DisplayRole).toString(),
            QString::fromUtf8("sapin.plm\nhiver"));

  // A result in a subfolder: the main window opens that folder and previews it, and the
  // results stay.
  g.Grid->setFocus();
  g.SelectPath(dir + "/noel.plm");
  QTest::keyClick(g.Grid, Qt::Key_Home);
  QTRY_COMPARE(main->FileListBox->Directory(), dir + "/hiver");
  ASSERT_TRUE(WaitForPreview(*main));
  EXPECT_EQ(main->LabDisplay->text(), QString::fromUtf8("Sapin de Noël"));
  EXPECT_EQ(Rows(g), (std::vector<std::string>{"sapin.plm", "noel.plm"}));

  // Emptied, the field gives the main window's folder back as before.
  search.SearchEdit->clear();
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"sapin.plm"}));
}

TEST_F(GalleryWindow, DuplicatesAndProblemsAreMarkedAndTheCopiesGoToTheTrashOnceConfirmed) {
  plmtest::ScopedEnv env;
  env.Set("XDG_DATA_HOME", fRoot + "/data"); // the desktop's trash, in the test's folder
  // GLib reads the variable once per process: never the user's own trash.
  ASSERT_EQ(std::string(g_get_user_data_dir()), fRoot + "/data");
  const std::string dir = Folder("modeles");
  Template(dir, "a.plm", "Neige");
  Template(dir, "plage.plm", "Plage");
  Folder("modeles/sub");
  ASSERT_EQ(plm::CopyFileBytes(dir + "/a.plm", dir + "/b.plm", true), 0);
  ASSERT_EQ(plm::CopyFileBytes(dir + "/a.plm", dir + "/sub/c.plm", true), 0);
  std::FILE *broken = std::fopen((dir + "/abime.plm").c_str(), "wb");
  ASSERT_NE(broken, nullptr);
  std::fputs("not a cabinet", broken);
  std::fclose(broken);
  auto main = Main(dir);
  TF_Gallery &g = OpenGallery();
  TGallerySearch &search = *fLink->Search();
  const auto name = [](QWidget *w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(search.DuplicatesCheck), QString::fromUtf8("Doublons seulement"));
  EXPECT_EQ(name(search.ProblemsCheck), QString::fromUtf8("Modèles à problèmes seulement"));
  EXPECT_FALSE(search.TrashButton->isVisible());

  search.SubfoldersCheck->setChecked(true);
  search.DuplicatesCheck->setChecked(true);
  QTRY_COMPARE(Rows(g), (std::vector<std::string>{"a.plm", "b.plm", "c.plm"}));
  const QModelIndex b = g.Model().index(1);
  EXPECT_TRUE(b.data(Qt::ToolTipRole).toString().endsWith(QString::fromUtf8("Doublon de a.plm")))
      << b.data(Qt::ToolTipRole).toString().toStdString();
  EXPECT_TRUE(b.data(Qt::AccessibleDescriptionRole).toString().contains(
      QString::fromUtf8("Doublon de a.plm")));
  EXPECT_TRUE(g.Model().index(0).data(Qt::ToolTipRole).toString().contains(
      QString::fromUtf8("Doublon de b.plm")));
  EXPECT_TRUE(b.data(Qt::DisplayRole).toString().startsWith(QString::fromUtf8("\u26A0 b.plm")));
  ASSERT_TRUE(search.TrashButton->isVisible());
  EXPECT_EQ(name(search.TrashButton), QString::fromUtf8("Mettre les doublons à la corbeille…"));

  // Refused first: nothing moves.
  QString asked;
  plm::TModalResult answer = plm::mrNo;
  const auto old = plm::SetMessageHandler([&](const plm::MessageRequest &r) {
    asked = r.text;
    return answer;
  });
  search.TrashButton->click();
  EXPECT_EQ(asked, QString::fromUtf8("Mettre à la corbeille 2 fichiers, doublons de 1 groupe ? "
                                     "Le premier modèle de chaque groupe est gardé."));
  EXPECT_TRUE(plm::FileExists(dir + "/b.plm"));
  answer = plm::mrYes;
  QSignalSpy finished(&search, &TGallerySearch::TrashFinished);
  QString told;
  QObject::connect(&search, &TGallerySearch::TrashFinished, [&] { told = search.Status->text(); });
  search.TrashButton->click();
  // Off the interface thread, the step leaves its button unusable until it ends.
  EXPECT_TRUE(finished.count() == 1 || (search.Trashing() && !search.TrashButton->isEnabled()));
  ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
  EXPECT_FALSE(search.Trashing());
  EXPECT_EQ(told, QString::fromUtf8("2 fichiers mis à la corbeille"));
  plm::SetMessageHandler(old);
  EXPECT_TRUE(plm::FileExists(dir + "/a.plm"));
  EXPECT_FALSE(plm::FileExists(dir + "/b.plm") || plm::FileExists(dir + "/sub/c.plm"));
  EXPECT_TRUE(plm::FileExists(fRoot + "/data/Trash/files/b.plm"));
  QTRY_COMPARE(Rows(g), std::vector<std::string>{});

  // Ticked before the other is unticked, the grid goes from one search to the next.
  search.ProblemsCheck->setChecked(true);
  search.DuplicatesCheck->setChecked(false);
  const auto tipOf = [&](const std::string &n) {
    return g.Model().index(g.Model().RowOf(dir + "/" + n)).data(Qt::ToolTipRole).toString();
  };
  QTRY_VERIFY(tipOf("abime.plm").contains(
      QString::fromUtf8("Fichier endommagé ou qui n'est pas un modèle : ")));
  EXPECT_FALSE(search.TrashButton->isVisible());
}
} // namespace
