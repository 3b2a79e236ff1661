// The viewer's speed as a user feels it: from selecting a template to the end of its
// page load (warm: after a first preview), the unpack-and-rewrite part alone, and the
// time from start-up to a shown main window.
//
// The template weighs about 300 KB and holds 20 pictures (JPEG, PNG and GIF), all shown
// by its page. Target: a warm preview under 80 ms.
//
// The page reaches the window through Qt Quick's software scene; the warm preview is also
// measured in a second run of this program through the OpenGL scene (the drawing used
// before, with Mesa's software rasteriser on a machine without a graphics card), and the
// ratio printed.
#include "preview/TemplatePreview.h"
#include "app/UMain.h"
#include "app/Uglobalvar.h"
#include "platform/AppPaths.h"
#include "imaging/PictureClasses.h"
#include "platform/FileSys.h"
#include "platform/GraphicsStart.h"
#include "platform/LineList.h"
#include "platform/TempDir.h"
#include "bench/support/TwentyPictures.h"
#include "bench/support/ViewerSandbox.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::string gRoot;    // the benchmark's own folder
std::string gLetters; // two copies of the template, so that each run selects anew
int64_t gTemplateBytes = 0;
double gWarmMs = 0; // the warm preview's mean wall time
constexpr const char *kPeerRun = "PLM_BENCH_OPENGL_PEER";

void MakeData() {
  gRoot = plmbench::MakeViewerSandbox("/tmp/plm-bench-app-XXXXXX");
  gLetters = gRoot + "/letters";

  plmbench::WriteTwentyPictureTemplate(gRoot + "/stage", {gLetters + "/a.plm", gLetters + "/b.plm"});
  gTemplateBytes = plm::FileSize(gLetters + "/a.plm");
}

// Waits for the window's download-complete event.
bool AwaitPreview(TF_Main &f) {
  QEventLoop loop;
  bool done = false;
  auto c = QObject::connect(&f, &TF_Main::DownloadComplete, [&] {
    done = true;
    loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  QObject::disconnect(c);
  return done;
}

std::unique_ptr<TF_Main> ShownWindow() {
  // Each window is the first instance of a session of its own: a later window of the same
  // session would be a second start, which ends before it starts the browser engine.
  static int session = 0;
  const std::string runtime = gRoot + "/session" + std::to_string(++session);
  plm::ForceDirectories(runtime, 0700);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  auto f = std::make_unique<TF_Main>();
  f->setShellTreePath(gLetters);
  f->Majdata();
  f->show();
  if (!QTest::qWaitForWindowExposed(f.get())) std::fputs("window not exposed\n", stderr);
  return f;
}

void BM_FirstWindowShown(benchmark::State &state) {
  // The first window of the process: the browser engine starts with it.
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    auto f = ShownWindow();
    state.SetIterationTime(t.nsecsElapsed() / 1e9);
  }
}
BENCHMARK(BM_FirstWindowShown)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WindowShown(benchmark::State &state) {
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    auto f = ShownWindow();
    state.SetIterationTime(t.nsecsElapsed() / 1e9);
  }
}
BENCHMARK(BM_WindowShown)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WarmPreview(benchmark::State &state) {
  auto f = ShownWindow();
  int next = 0;
  double ownWork = 0; // the viewer's own part: from the click to the page handed to the browser
  auto select = [&] {
    f->FileListBox->setItemIndex(next);
    next ^= 1;
    QElapsedTimer t;
    t.start();
    f->FileListBoxClick();
    ownWork += t.nsecsElapsed() / 1e6;
    return AwaitPreview(*f);
  };
  if (!select()) state.SkipWithError("the first preview never completed");
  ownWork = 0;
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    if (!select()) {
      state.SkipWithError("a preview never completed");
      break;
    }
    state.SetIterationTime(t.nsecsElapsed() / 1e9);
    gWarmMs += t.nsecsElapsed() / 1e6;
  }
  state.counters["template_KB"] = double(gTemplateBytes) / 1024.0;
  state.counters["pictures"] = double(f->Listimages->count());
  state.counters["own_ms"] = ownWork / double(state.iterations());
  gWarmMs = state.iterations() ? gWarmMs / double(state.iterations()) : 0;
}
BENCHMARK(BM_WarmPreview)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_UnpackAndRewrite(benchmark::State &state) {
  // The preview's own work before the browser: unpack, read, check, rewrite, list, save.
  const std::string folder = gRoot + "/unpack";
  for (auto _ : state) {
    for (const auto &n : plm::ListDirectory(folder))
      plm::DeleteEntryNoFollow(folder + "/" + n);
    plm::TTemplatePreview p(folder);
    p.Extract(gLetters + "/a.plm");
    benchmark::DoNotOptimize(p.ReadFields());
    p.LoadPage();
    benchmark::DoNotOptimize(p.FontName());
    p.RewritePage();
    benchmark::DoNotOptimize(p.Pictures());
    p.SavePage();
  }
}
BENCHMARK(BM_UnpackAndRewrite)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  plm::StartWithSharedGraphics(); // as the viewer starts
  plm::RegisterPictureClasses();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  MakeData();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (std::getenv(kPeerRun)) {
    std::printf("warm_preview_ms=%.3f\n", gWarmMs);
  } else if (gWarmMs > 0) {
    // The same preview drawn through the OpenGL scene, in a process of its own: the scene's
    // backend is chosen once a process.
    const std::string cmd = std::string(kPeerRun) + "=1 QT_QUICK_BACKEND=rhi '" +
                            plm::ExecutablePath() +
                            "' --benchmark_filter=BM_WarmPreview 2>/dev/null";
    double peer = 0;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, p))
        std::sscanf(line, "warm_preview_ms=%lf", &peer);
      ::pclose(p);
    }
    if (peer > 0)
      std::printf("warm preview: %.1f ms, through the OpenGL scene %.1f ms: %.2f x\n", gWarmMs,
                  peer, gWarmMs / peer);
  }
  plm::SetSettingsFileOverride("");
  std::system(("rm -rf '" + gRoot + "'").c_str());
  return 0;
}
