// plmtool snapshot: the JPEG snapshot of a template's page, rendered without a screen at
// the browser's design size, with the same sizes, names and quality as the viewer's button.
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/Snapshot.h"
#include "preview/TemplatePreview.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

const char kUsage[] = "usage: plmtool snapshot TEMPLATE OUT.jpg|OUTDIR [--quality 1..10] "
                      "[--scale 10..100]\n";

bool ParseInt(const std::string &s, int lo, int hi, int &out) {
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// Waits for cond while the events run; false after timeoutMs.
template <class Cond> bool WaitFor(Cond cond, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!cond()) {
    if (clock.elapsed() > timeoutMs) return false;
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Loads the page at the browser's design size and returns what the browser shows.
QImage RenderPage(const std::string &pagePath, const std::string &folder) {
  QWebEngineProfile profile;
  TPreviewGuard guard;
  guard.setAllowedFolder(QString::fromStdString(folder));
  profile.setUrlRequestInterceptor(&guard);
  auto view = std::make_unique<QWebEngineView>();
  auto *page = new TPreviewPage(&profile, view.get());
  LockDownPageSettings(page->settings());
  view->setPage(page);
  view->resize(plm::BrowserDesignWidth, plm::BrowserDesignHeight);
  view->show();

  bool done = false, ok = false;
  QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool success) {
    done = true;
    ok = success;
  });
  view->load(QUrl::fromLocalFile(QString::fromStdString(pagePath)));
  if (!WaitFor([&] { return done; }, 30000))
    throw plm::Exception("the page did not finish loading");
  if (!ok) throw plm::Exception("the page could not be loaded");
  // The first frame follows the end of loading: take the picture once it stops changing.
  QImage shot, previous;
  int same = 0;
  WaitFor(
      [&] {
        shot = view->grab().toImage();
        same = (!previous.isNull() && shot == previous) ? same + 1 : 0;
        previous = shot;
        return same >= 3;
      },
      3000);
  view->setPage(nullptr);
  delete page;
  return shot;
}

int Snapshot(const std::vector<std::string> &args) {
  std::vector<std::string> files;
  int step = 8, scale = 100;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--quality" || args[i] == "--scale") && i + 1 < args.size()) {
      const bool quality = args[i] == "--quality";
      if (!ParseInt(args[i + 1], quality ? plm::SnapshotMinStep : plm::SnapshotMinScale,
                    quality ? plm::SnapshotMaxStep : plm::SnapshotMaxScale,
                    quality ? step : scale)) {
        std::fprintf(stderr, "plmtool: bad value for %s: %s\n%s", args[i].c_str(),
                     args[i + 1].c_str(), kUsage);
        return 2;
      }
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      std::fprintf(stderr, "plmtool: unknown option %s\n%s", args[i].c_str(), kUsage);
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string &templatePath = files[0];
  std::string out = files[1];
  if (plm::DirectoryExists(out)) out = plm::SnapshotPath(out, plm::ExtractFileName(templatePath));

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  const auto app = plmtool::MakeOffscreenApp<QApplication>();
  // Removed on every path, Ctrl-C and SIGTERM included, whatever names it ends up holding.
  plm::TTempFolder work("plmtool-");
  const std::string folder = plm::JoinPath({work.Path(), "~plmlook"});
  plm::TTemplatePreview preview(folder);
  preview.Extract(templatePath);
  preview.LoadPage();
  preview.RewritePage();
  preview.SavePage();

  const QSize browser(plm::BrowserDesignWidth, plm::BrowserDesignHeight);
  const QImage picture =
      plm::SnapshotPicture(RenderPage(preview.PagePath(), folder), browser, scale);
  plm::SaveSnapshot(picture, plm::SnapshotQuality(step), out);
  std::printf("%s: %d x %d, quality %d\n", out.c_str(), picture.width(), picture.height(),
              plm::SnapshotQuality(step));
  return 0;
}

} // namespace

PLM_COMMAND("snapshot", "snapshot TEMPLATE OUT.jpg|OUTDIR [--quality 1..10] [--scale 10..100]",
            Snapshot);
