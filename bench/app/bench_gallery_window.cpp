// How long the gallery window holds the interface thread with a folder of 1,000 templates:
// the interface thread's longest work between two turns of the event loop while the gallery opens, while a
// template is added to the folder and while one is rewritten in place (pictures aside: the
// source answers nothing). Target: never more than 50 ms at a time.
//
// Then the search above the grid, over a folder of 10,000 catalogued templates: the time
// from the last key typed to the results in the grid (target 100 ms), with the interface
// thread's longest hold meanwhile; and "Doublons seulement" ticked over the same folder, all
// of it duplicates, until the groups are in the grid (target 200 ms).
//
// Then a folder of 10,000 templates whose pictures are all cached, through the real
// provider: the viewer's own resident memory after the gallery has been scrolled end to end
// (End, Home, 20 x Page Down) against the same viewer showing 10 templates (target: at most
// 150 MB above), the first screenful and each screenful reached by a key filled within
// 100 ms, the longest hold while scrolling and while 100 templates are rewritten (50 ms);
// and a row added to and removed from the main list of 10,000 (10 ms, against the list read
// again).
//
// Then the gallery's search over a tree of 100,000 templates, its results shown through the
// same bounded pictures (below).
//
// The folder of 10,000 and the tree of 100,000 are measured in a run of their own
// (--benchmark_filter=Thousand): the first main window of a process marks it as the
// running viewer until the process ends, so a later main window of the same process takes
// itself for a second start, hands over and is never wired to its folder tree.
//
// Peer: the main file list re-reading the same folder alone (TFileListBox::Update), which
// any change on disk costs the viewer with or without the gallery; the ratio printed is the
// gallery's longest hold over it.
#include "app/FileListBox.h"
#include "app/GalleryLink.h"
#include "app/GalleryModel.h"
#include "app/GallerySearch.h"
#include "app/UGallery.h"
#include "app/UMain.h"
#include "app/Uglobalvar.h"
#include "catalogue/Catalogue.h"
#include "gallery/ThumbnailCache.h"
#include "gallery/ThumbnailProvider.h"
#include "gallery/ThumbnailSource.h"
#include "imaging/PictureClasses.h"
#include "platform/AppPaths.h"
#include "platform/FileSys.h"
#include "platform/GraphicsStart.h"
#include "platform/InstalledFonts.h"
#include "samples/SampleArt.h"
#include "bench/support/HeldInterface.h"
#include "bench/support/ViewerSandbox.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

namespace {

constexpr int kTemplates = 1000;
std::string gRoot, gLetters, gTemplate;
double gLongestHoldMs = 0, gListUpdateMs = 0;

class QuietSource : public TThumbnailSource {
public:
  std::function<void()> OnVisible, OnRefresh;
  void setTemplates(const std::vector<std::string> &paths) override { fTotal = int(paths.size()); }
  void setVisible(const std::vector<std::string> &) override {
    if (OnVisible) OnVisible();
  }
  void refresh(const std::string &) override {
    if (OnRefresh) OnRefresh();
  }
  int answered() const override { return 0; }
  int total() const override { return fTotal; }

private:
  int fTotal = 0;
};

struct Hold {
  double cpuMs = -1;  // the interface thread's own work between two turns
  double wallMs = -1; // the same on the clock, the machine's other work included
};

// Runs start inside an event loop until finish is called (or 20 s pass) and returns the
// longest gap between two ticks of a 1 ms timer meanwhile: the longest hold. The figure
// of record is the thread's processor time, as other processes on a loaded machine
// stretch the clock's.
Hold LongestHold(const std::function<void(std::function<void()>)> &start) {
  QEventLoop loop;
  QElapsedTimer clock;
  Hold longest{0, 0};
  qint64 last = 0;
  double lastCpu = 0;
  const auto sample = [&] {
    const qint64 now = clock.nsecsElapsed();
    const double cpu = plmbench::ThreadCpuMs();
    longest.wallMs = std::max(longest.wallMs, double(now - last) / 1e6);
    longest.cpuMs = std::max(longest.cpuMs, cpu - lastCpu);
    last = now;
    lastCpu = cpu;
  };
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  QObject::connect(&tick, &QTimer::timeout, sample);
  bool done = false;
  QTimer::singleShot(0, [&] {
    clock.start();
    lastCpu = plmbench::ThreadCpuMs();
    tick.start();
    start([&] {
      if (done) return;
      done = true;
      // One more turn, so that what the change queued (layout, paint) is counted.
      QTimer::singleShot(0, &loop, &QEventLoop::quit);
    });
  });
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  sample();
  return done ? longest : Hold{};
}

void MakeData() {
  gRoot = plmbench::MakeViewerSandbox("/tmp/plm-bench-gallery-window-XXXXXX");
  gLetters = gRoot + "/letters";
  ::setenv("XDG_CACHE_HOME", (gRoot + "/cache").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (gRoot + "/temp").c_str(), 1);
  std::vector<std::pair<std::string, std::string>> files;
  const auto add = [&](const std::string &name, const std::string &bytes) {
    plm::samples::WriteFile(gRoot + "/stage/" + name, bytes);
    files.emplace_back(gRoot + "/stage/" + name, name);
  };
  add("content.ini", "[General]\r\nCollection=Banc d'essai\r\nDisplay=Modèle\r\n");
  add("Flavor.htm", "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION>x</TD></TR></TABLE>"
                    "</BODY></HTML>");
  gTemplate = gRoot + "/model.plm";
  plm::samples::PackTemplate(gTemplate, files);
  for (int i = 0; i < kTemplates; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/m%04d.plm", i);
    QFile::copy(QString::fromStdString(gTemplate), QString::fromStdString(gLetters + name));
  }
}

struct Window {
  std::unique_ptr<TF_Main> Main;
  TGalleryLink *Link = nullptr;
  QuietSource *Source = nullptr;
  Window() {
    Main = std::make_unique<TF_Main>();
    Main->setShellTreePath(gLetters);
    Main->Majdata();
    Main->show();
    if (!QTest::qWaitForWindowExposed(Main.get())) std::fputs("window not exposed\n", stderr);
    Link = new TGalleryLink(*Main, [this] {
      auto s = std::make_unique<QuietSource>();
      Source = s.get();
      return s;
    });
    Link->SetCatalogueFile(gRoot + "/catalogue.sqlite");
  }
};

std::unique_ptr<Window> gWindow; // goes before the application object

Window &TheWindow() {
  if (!gWindow) gWindow = std::make_unique<Window>();
  return *gWindow;
}

void Record(benchmark::State &state, Hold hold) {
  if (hold.cpuMs < 0) state.SkipWithError("the gallery never showed the change");
  state.SetIterationTime(hold.cpuMs / 1e3);
  gLongestHoldMs = std::max(gLongestHoldMs, hold.cpuMs);
  state.counters["longest_ms"] = std::max(state.counters["longest_ms"].value, hold.cpuMs);
  state.counters["longest_wall_ms"] =
      std::max(state.counters["longest_wall_ms"].value, hold.wallMs);
}

void BM_GalleryOpens(benchmark::State &state) {
  Window &w = TheWindow();
  for (auto _ : state) {
    const Hold hold = LongestHold([&](std::function<void()> done) {
      w.Link->Open();
      w.Source->OnVisible = done; // the grid has settled and asks for what it shows
    });
    w.Source->OnVisible = nullptr;
    Record(state, hold);
    w.Link->Window()->close();
  }
}
BENCHMARK(BM_GalleryOpens)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TemplateAdded(benchmark::State &state) {
  Window &w = TheWindow();
  w.Link->Open();
  TGalleryModel &model = w.Link->Window()->Model();
  QTest::qWait(1000); // the files' watches are set up a batch per turn
  int n = 0;
  for (auto _ : state) {
    const std::string path = gLetters + "/added" + std::to_string(n++) + ".plm";
    QMetaObject::Connection inserted, reset;
    const Hold hold = LongestHold([&](std::function<void()> done) {
      inserted = QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model, done);
      reset = QObject::connect(&model, &QAbstractItemModel::modelReset, &model, done);
      QFile::copy(QString::fromStdString(gTemplate), QString::fromStdString(path));
    });
    QObject::disconnect(inserted);
    QObject::disconnect(reset);
    Record(state, hold);
    plm::DeleteFile(path);
    QTest::qWait(400); // the removal's own rescan, outside the measure
  }
  w.Link->Window()->close();
}
BENCHMARK(BM_TemplateAdded)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TemplateRewritten(benchmark::State &state) {
  Window &w = TheWindow();
  w.Link->Open();
  QTest::qWait(1000); // the files' watches are set up a batch per turn
  int n = 0;
  for (auto _ : state) {
    const std::string path = gLetters + "/m0500.plm";
    const Hold hold = LongestHold([&](std::function<void()> done) {
      w.Source->OnRefresh = done;
      // Other bytes, the same name.
      QFile from(QString::fromStdString(gTemplate));
      from.open(QIODevice::ReadOnly);
      plm::samples::WriteFile(path, from.readAll().toStdString() + std::string(size_t(++n), '\0'));
    });
    w.Source->OnRefresh = nullptr;
    Record(state, hold);
  }
  w.Link->Window()->close();
}
BENCHMARK(BM_TemplateRewritten)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FileListUpdate(benchmark::State &state) {
  Window &w = TheWindow();
  double total = 0;
  for (auto _ : state) {
    const double start = plmbench::ThreadCpuMs();
    w.Main->FileListBox->Update();
    const double ms = plmbench::ThreadCpuMs() - start;
    state.SetIterationTime(ms / 1e3);
    total += ms;
  }
  gListUpdateMs = total / double(state.iterations());
}
// "k00" to "k99": no word is the beginning of another.
std::string Word(int k) {
  char w[8];
  std::snprintf(w, sizeof w, "k%02d", k);
  return w;
}

// 100 different templates, 100 copies each; each display name holds its own word.
const std::string &ManyFolder() {
  static const std::string many = [] {
    const std::string folder = gRoot + "/many";
    plm::ForceDirectories(folder);
    for (int k = 0; k < 100; ++k) {
      const std::string stage = gRoot + "/stage/content.ini";
      plm::samples::WriteFile(stage, "[General]\r\nCollection=Banc d'essai\r\nDisplay=Modèle " +
                                         Word(k) + "\r\n");
      const std::string one = gRoot + "/k" + std::to_string(k) + ".plm";
      plm::samples::PackTemplate(one, {{stage, "content.ini"}});
      for (int c = 0; c < 100; ++c)
        QFile::copy(QString::fromStdString(one),
                    QString::fromStdString(folder + "/t" + std::to_string(k * 100 + c) + ".plm"));
    }
    return folder;
  }();
  return many;
}

// A gallery searching the 10,000 templates, shown; ask starts its first search, which
// catalogues the folder (outside the measures) and shows rows templates.
struct SearchWindow {
  QuietSource source;
  TF_Gallery gallery{source, nullptr};
  TGallerySearch search{gallery, gRoot + "/search.sqlite"};
  SearchWindow(benchmark::State &state, const std::function<void(TGallerySearch &)> &ask, int rows) {
    search.SetFolder(ManyFolder());
    gallery.show();
    if (!QTest::qWaitForWindowExposed(&gallery)) std::fputs("gallery not exposed\n", stderr);
    ask(search);
    if (!QTest::qWaitFor([&] { return gallery.Model().rowCount() == rows; }, 120000))
      state.SkipWithError("the folder was never catalogued");
  }
};

void BM_SearchAnswer(benchmark::State &state) {
  SearchWindow w(state, [](TGallerySearch &s) { QTest::keyClicks(s.SearchEdit, "k00"); }, 100);
  TF_Gallery &gallery = w.gallery;
  TGallerySearch &search = w.search;
  int k = 0;
  double answerTotal = 0, answerLongest = 0;
  for (auto _ : state) {
    const std::string word = Word(++k % 100);
    QElapsedTimer sinceLastKey;
    QMetaObject::Connection changed;
    const Hold hold = LongestHold([&](std::function<void()> done) {
      changed = QObject::connect(&gallery.Model(), &QAbstractItemModel::modelReset, [&, done] {
        answerTotal += sinceLastKey.nsecsElapsed() / 1e6;
        answerLongest = std::max(answerLongest, sinceLastKey.nsecsElapsed() / 1e6);
        done();
      });
      search.SearchEdit->clear();
      QTest::keyClicks(search.SearchEdit, QString::fromStdString(word));
      sinceLastKey.start();
    });
    QObject::disconnect(changed);
    if (gallery.Model().rowCount() != 100) state.SkipWithError("wrong results");
    Record(state, hold);
  }
  state.counters["answer_ms"] = answerTotal / double(state.iterations());
  state.counters["answer_longest_ms"] = answerLongest;
  state.counters["templates"] = 10000;
}
BENCHMARK(BM_SearchAnswer)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// "Doublons seulement" ticked over the same 10,000 templates, every one a duplicate (100
// groups of 100): the time from the tick to the groups in the grid (target 200 ms), with the
// interface thread's longest hold meanwhile. The catalogue is up to date.
void BM_DuplicatesTicked(benchmark::State &state) {
  SearchWindow w(state, [](TGallerySearch &s) { s.DuplicatesCheck->setChecked(true); }, 10000);
  TF_Gallery &gallery = w.gallery;
  TGallerySearch &search = w.search;
  const std::string &many = ManyFolder();
  // Unticked, the grid shows the folder again, as the main window's link has it do.
  std::vector<TGalleryEntry> folder(10000);
  for (int i = 0; i < 10000; ++i) folder[size_t(i)].Path = many + "/t" + std::to_string(i) + ".plm";
  QObject::connect(&search, &TGallerySearch::Cleared, [&] { gallery.ShowTemplates(folder); });
  double answerTotal = 0, answerLongest = 0;
  for (auto _ : state) {
    search.DuplicatesCheck->setChecked(false);
    if (gallery.Model().PathAt(1) != folder[1].Path) state.SkipWithError("the folder never came back");
    QElapsedTimer sinceTick;
    QMetaObject::Connection changed;
    const Hold hold = LongestHold([&](std::function<void()> done) {
      changed = QObject::connect(&gallery.Model(), &QAbstractItemModel::modelReset, [&, done] {
        const double ms = sinceTick.nsecsElapsed() / 1e6;
        answerTotal += ms;
        answerLongest = std::max(answerLongest, ms);
        done();
      });
      sinceTick.start();
      search.DuplicatesCheck->setChecked(true);
    });
    QObject::disconnect(changed);
    if (gallery.Model().rowCount() != 10000) state.SkipWithError("wrong results");
    Record(state, hold);
  }
  state.counters["shown_ms"] = answerTotal / double(state.iterations()); // target 200
  state.counters["shown_longest_ms"] = answerLongest;
  state.counters["templates"] = 10000;
}
BENCHMARK(BM_DuplicatesTicked)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_FileListUpdate)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- Collections of any size: a folder of 10,000 templates whose pictures are all in the
// shared cache, shown through the real provider.
constexpr int kBigFolder = 10000, kSmallFolder = 10;
std::string gBig, gSmall;

// The process's own resident memory (the browser engine's helpers are other processes).
double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return -1;
}

// n copies of the template, each with its picture in the shared cache.
void MakeCachedFolder(const std::string &folder, int n) {
  plm::ForceDirectories(folder);
  const plm::TThumbnailCache cache;
  // A page's picture as the renderer stores it: fitted into 256 x 256, its proportions kept.
  QImage picture(181, 256, QImage::Format_RGB32);
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/m%05d.plm", i);
    const std::string path = folder + name;
    QFile::copy(QString::fromStdString(gTemplate), QString::fromStdString(path));
    picture.fill(QColor::fromHsv(i % 360, 120, 230));
    cache.Store(plm::TThumbnailCache::Stamp(path), picture);
  }
}

// The main window on the folder, once its list shows it.
void ShowFolder(TF_Main &main, const std::string &folder) {
  main.setShellTreePath(folder);
  if (!QTest::qWaitFor([&] { return main.FileListBox->Directory() == folder; }, 20000))
    std::fprintf(stderr, "the list never showed %s\n", folder.c_str());
}

struct SizeWindow {
  std::unique_ptr<TF_Main> Main;
  TGalleryLink *Link = nullptr;
  plm::TThumbnailProvider *Provider = nullptr;
  SizeWindow() {
    if (gBig.empty()) {
      gBig = gRoot + "/big";
      gSmall = gRoot + "/small";
      MakeCachedFolder(gSmall, kSmallFolder);
      MakeCachedFolder(gBig, kBigFolder);
    }
    Main = std::make_unique<TF_Main>();
    Main->Majdata();
    Main->show();
    if (!QTest::qWaitForWindowExposed(Main.get())) std::fputs("window not exposed\n", stderr);
    ShowFolder(*Main, gSmall);
    Link = new TGalleryLink(*Main, [this] {
      auto p = std::make_unique<plm::TThumbnailProvider>();
      Provider = p.get();
      return p;
    });
    Link->SetCatalogueFile(gRoot + "/catalogue-size.sqlite");
  }
};
std::unique_ptr<SizeWindow> gSize; // goes before the application object

SizeWindow &TheSizeWindow() {
  // One main window at a time, as in the viewer: the earlier one goes first.
  if (!gSize) {
    gWindow.reset();
    gSize = std::make_unique<SizeWindow>();
  }
  return *gSize;
}

// Every tile on screen has its picture decoded (it is painted with it, not a placeholder).
bool ScreenFilled(TF_Gallery &g, const plm::TThumbnailProvider &p) {
  const QRect shown = g.Grid->viewport()->rect();
  int seen = 0;
  for (int y = 4; y < shown.height(); y += 40)
    for (int x = 4; x < shown.width(); x += 40) {
      const QModelIndex i = g.Grid->indexAt(QPoint(x, y));
      if (!i.isValid()) continue;
      ++seen;
      if (g.Model().StateAt(i.row()) != TGalleryModel::State::Shown ||
          !p.Pictures().Holds(g.Model().PathAt(i.row())))
        return false;
    }
  return seen > 0;
}

// Turns the event loop until the condition holds (or 20 s pass); the 1 ms tick of the
// hold's probe keeps it turning.
bool Until(const std::function<bool()> &done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 20000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// The same viewer showing the ten templates, their pictures on screen: its resident memory,
// the figure a big folder is compared with. The gallery is closed again.
double SmallFolderResident(SizeWindow &w, benchmark::State &state) {
  ShowFolder(*w.Main, gSmall);
  w.Link->Open();
  TF_Gallery &g = *w.Link->Window();
  if (!Until([&] { return w.Provider->answered() == kSmallFolder && ScreenFilled(g, *w.Provider); }))
    state.SkipWithError("the small folder was never shown");
  QTest::qWait(200);
  const double small = ResidentMb();
  g.close();
  return small;
}

// The viewer's resident memory once every one of the gallery's pictures has been found.
double ResidentOnceAllFound(SizeWindow &w, int pictures, benchmark::State &state) {
  if (!Until([&] { return w.Provider->answered() == pictures; }))
    state.SkipWithError("not every picture was found");
  QTest::qWait(200);
  return ResidentMb();
}

// End, Home, then 20 x Page Down in the grid, each screenful waited for until it is filled:
// the slowest on the clock, and the longest a key's own handling took; false when one
// screenful never filled.
bool ScrollEndToEnd(TF_Gallery &g, const plm::TThumbnailProvider &p, double &slowest,
                    double &keyMs) {
  std::vector<Qt::Key> keys = {Qt::Key_End, Qt::Key_Home};
  keys.insert(keys.end(), 20, Qt::Key_PageDown);
  for (const Qt::Key key : keys) {
    QElapsedTimer clock;
    clock.start();
    const double cpu = plmbench::ThreadCpuMs();
    QTest::keyClick(g.Grid, key);
    keyMs = std::max(keyMs, plmbench::ThreadCpuMs() - cpu);
    if (!Until([&] { return ScreenFilled(g, p); })) return false;
    slowest = std::max(slowest, double(clock.nsecsElapsed()) / 1e6);
  }
  return true;
}

void BM_GalleryOfTenThousand(benchmark::State &state) {
  SizeWindow &w = TheSizeWindow();
  for (auto _ : state) {
    const double small = SmallFolderResident(w, state);
    TF_Gallery &g = *w.Link->Window();

    double first = -1, slowest = 0, openMs = 0, keyMs = 0;
    ShowFolder(*w.Main, gBig);
    const Hold scrolling = LongestHold([&](std::function<void()> done) {
      QElapsedTimer clock;
      clock.start();
      double cpu = plmbench::ThreadCpuMs();
      w.Link->Open();
      openMs = plmbench::ThreadCpuMs() - cpu;
      if (!Until([&] { return ScreenFilled(g, *w.Provider); })) return;
      first = double(clock.nsecsElapsed()) / 1e6;
      if (ScrollEndToEnd(g, *w.Provider, slowest, keyMs)) done();
    });
    if (scrolling.cpuMs < 0) state.SkipWithError("a screenful was never filled");
    // Every picture found, few of them held.
    const double big = ResidentOnceAllFound(w, kBigFolder, state);

    // 100 templates rewritten one after the other (by another program: another thread),
    // each seen by the list and the gallery before the next.
    std::atomic<int> seen{0};
    const auto counted = QObject::connect(w.Main->FileListBox, &TFileListBox::Written,
                                          [&](const std::string &) { ++seen; });
    QFile from(QString::fromStdString(gTemplate));
    from.open(QIODevice::ReadOnly);
    const std::string bytes = from.readAll().toStdString();
    std::thread writer;
    const Hold rewriting = LongestHold([&](std::function<void()> done) {
      writer = std::thread([&] {
        for (int i = 0; i < 100; ++i) {
          char name[32];
          std::snprintf(name, sizeof name, "/m%05d.plm", i * 37);
          plm::samples::WriteFile(gBig + name, bytes + std::string(size_t(i + 1), '\0'));
          while (seen.load() <= i && seen.load() >= 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      });
      if (Until([&] { return seen.load() >= 100; })) done();
    });
    if (seen.load() < 100) seen = -1; // the writer stops waiting
    writer.join();
    QObject::disconnect(counted);
    if (rewriting.cpuMs < 0) state.SkipWithError("the rewrites were never all seen");
    state.SetIterationTime(std::max(scrolling.cpuMs, rewriting.cpuMs) / 1e3);
    state.counters["rss_10_templates_mb"] = small;
    state.counters["rss_10000_templates_mb"] = big;
    state.counters["rss_above_mb"] = big - small; // target 150
    state.counters["first_screen_ms"] = first;    // target 100
    state.counters["slowest_key_screen_ms"] = slowest; // target 100
    state.counters["hold_scrolling_ms"] = scrolling.cpuMs;   // target 50
    state.counters["hold_rewrites_ms"] = rewriting.cpuMs;    // target 50
    state.counters["open_call_ms"] = openMs;    // the gallery's opening, alone
    state.counters["longest_key_call_ms"] = keyMs; // a key's own handling, alone
    state.counters["held_pictures_mb"] = double(w.Provider->Pictures().Bytes()) / 1048576.0;
    g.close();
  }
}
BENCHMARK(BM_GalleryOfTenThousand)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A template added to, then removed from, the folder of 10,000 shown in the main window:
// the interface thread's longest hold until its row has come or gone (target 10 ms).
void BM_ListRowOfTenThousand(benchmark::State &state) {
  SizeWindow &w = TheSizeWindow();
  ShowFolder(*w.Main, gBig);
  TFileListBox &list = *w.Main->FileListBox;
  int n = 0;
  std::vector<double> adds, removes;
  for (auto _ : state) {
    const std::string path = gBig + "/n" + std::to_string(n++) + ".plm";
    const auto change = [&](const std::function<void()> &onDisk) {
      std::thread worker;
      QMetaObject::Connection rows;
      const Hold hold = LongestHold([&](std::function<void()> done) {
        rows = QObject::connect(&list, &TFileListBox::RowsChanged, &list, done);
        worker = std::thread(onDisk);
      });
      worker.join();
      QObject::disconnect(rows);
      return hold;
    };
    const Hold added = change([&] {
      QFile::copy(QString::fromStdString(gTemplate), QString::fromStdString(path));
    });
    const Hold removed = change([&] { plm::DeleteFile(path); });
    if (added.cpuMs < 0 || removed.cpuMs < 0 || list.count() != kBigFolder)
      state.SkipWithError("the row never came or went");
    adds.push_back(added.cpuMs);
    removes.push_back(removed.cpuMs);
    state.SetIterationTime(std::max(added.cpuMs, removed.cpuMs) / 1e3);
  }
  // Target 10 ms: the longest and the median of the runs.
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1.0 : v[v.size() / 2];
  };
  state.counters["add_hold_longest_ms"] = adds.empty() ? -1 : *std::max_element(adds.begin(), adds.end());
  state.counters["add_hold_median_ms"] = median(adds);
  state.counters["remove_hold_longest_ms"] = removes.empty() ? -1 : *std::max_element(removes.begin(), removes.end());
  state.counters["remove_hold_median_ms"] = median(removes);
  state.counters["rows"] = list.count();
  // The peer: the whole list read again, as every change cost before.
  const double start = plmbench::ThreadCpuMs();
  list.Update();
  state.counters["reread_ms"] = plmbench::ThreadCpuMs() - start;
}
BENCHMARK(BM_ListRowOfTenThousand)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The gallery's search over a tree of 100,000 templates in 1,000 folders: one in ten
// holds the word searched, and the 10,000 found have their pictures cached. The results are
// shown through the same bounded pictures: the time from the last key to the results in
// the grid, then the first screenful and each screenful reached by a key (End, Home,
// 20 x Page Down) filled within 100 ms, the longest hold meanwhile (50 ms), and the
// viewer's memory against the same viewer showing 10 templates (150 MB above at most).
constexpr int kHugeFolders = 1000, kPerHugeFolder = 100, kHugeWords = 10;
std::string gHuge;

void MakeHugeTree() {
  gHuge = gRoot + "/huge";
  std::vector<std::string> models;
  for (int k = 0; k < kHugeWords; ++k) {
    const std::string stage = gRoot + "/stage/content.ini";
    plm::samples::WriteFile(stage, "[General]\r\nCollection=Banc d'essai\r\nDisplay=Modèle w" +
                                       std::to_string(k) + "\r\n");
    const std::string page = gRoot + "/stage/Flavor.htm";
    plm::samples::WriteFile(page, "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION>x</TD></TR>"
                                  "</TABLE></BODY></HTML>");
    models.push_back(gRoot + "/w" + std::to_string(k) + ".plm");
    plm::samples::PackTemplate(models.back(), {{stage, "content.ini"}, {page, "Flavor.htm"}});
  }
  const plm::TThumbnailCache cache;
  QImage picture(181, 256, QImage::Format_RGB32);
  for (int f = 0; f < kHugeFolders; ++f) {
    const std::string folder = gHuge + "/d" + std::to_string(f);
    plm::ForceDirectories(folder);
    for (int t = 0; t < kPerHugeFolder; ++t) {
      const std::string path = folder + "/m" + std::to_string(t) + ".plm";
      QFile::copy(QString::fromStdString(models[size_t(t % kHugeWords)]),
                  QString::fromStdString(path));
      if (t % kHugeWords != 0) continue;
      picture.fill(QColor::fromHsv((f + t) % 360, 120, 230));
      cache.Store(plm::TThumbnailCache::Stamp(path), picture);
    }
  }
  // Catalogued beforehand, as a collector's tree is by the viewer's earlier sessions.
  plm::TCatalogue catalogue(gRoot + "/catalogue-size.sqlite", plm::IsFontFamilyInstalled);
  catalogue.Update({gHuge}, true);
}

void BM_GallerySearchOfHundredThousand(benchmark::State &state) {
  SizeWindow &w = TheSizeWindow();
  if (gHuge.empty()) MakeHugeTree();
  constexpr int kFound = kHugeFolders * kPerHugeFolder / kHugeWords;
  for (auto _ : state) {
    const double small = SmallFolderResident(w, state);
    TF_Gallery &g = *w.Link->Window();

    ShowFolder(*w.Main, gHuge);
    w.Link->Open();
    TGallerySearch &search = *w.Link->Search();
    search.SubfoldersCheck->setChecked(true);
    // A first search brings the catalogue up to date with the tree (outside the measure).
    QTest::keyClicks(search.SearchEdit, "w1");
    if (!Until([&] { return g.Model().rowCount() == kFound; }))
      state.SkipWithError("the first search never answered");
    search.SearchEdit->clear();

    double answer = -1, first = -1, slowest = 0;
    const Hold hold = LongestHold([&](std::function<void()> done) {
      QElapsedTimer clock;
      QTest::keyClicks(search.SearchEdit, "w0");
      clock.start();
      if (!Until([&] { return g.Model().rowCount() == kFound && search.Active(); })) return;
      answer = double(clock.nsecsElapsed()) / 1e6;
      if (!Until([&] { return ScreenFilled(g, *w.Provider); })) return;
      first = double(clock.nsecsElapsed()) / 1e6;
      double keyMs = 0;
      if (ScrollEndToEnd(g, *w.Provider, slowest, keyMs)) done();
    });
    if (hold.cpuMs < 0) state.SkipWithError("the results were never shown whole");
    const double big = ResidentOnceAllFound(w, kFound, state);
    state.SetIterationTime(hold.cpuMs / 1e3);
    state.counters["templates"] = kHugeFolders * kPerHugeFolder;
    state.counters["found"] = g.Model().rowCount();
    state.counters["answer_ms"] = answer;              // the last key to the grid
    state.counters["first_screen_ms"] = first;         // target 100, from the last key
    state.counters["slowest_key_screen_ms"] = slowest; // target 100
    state.counters["hold_ms"] = hold.cpuMs;            // target 50
    state.counters["rss_10_templates_mb"] = small;
    state.counters["rss_search_mb"] = big;
    state.counters["rss_above_mb"] = big - small; // target 150
    state.counters["held_pictures_mb"] = double(w.Provider->Pictures().Bytes()) / 1048576.0;
    search.SearchEdit->clear();
    g.close();
  }
}
BENCHMARK(BM_GallerySearchOfHundredThousand)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  plm::StartWithSharedGraphics();
  plm::RegisterPictureClasses();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  MakeData();
  benchmark::RunSpecifiedBenchmarks();
  if (gListUpdateMs > 0)
    std::printf("longest hold %.1f ms (target 50 ms), file list re-read alone %.1f ms: %.2f x\n",
                gLongestHoldMs, gListUpdateMs, gLongestHoldMs / gListUpdateMs);
  benchmark::Shutdown();
  gSize.reset();
  gWindow.reset();
  plm::SetSettingsFileOverride("");
  std::system(("rm -rf '" + gRoot + "'").c_str());
  return 0;
}
