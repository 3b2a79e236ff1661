// plmtool snapshot: the JPEG snapshot of a template's page, rendered without a screen at
// the browser's design size, with the same sizes, names and quality as the viewer's button.
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include "preview/PageRender.h"
#include "preview/Snapshot.h"
#include "platform/Exceptions.h"
#include "platform/LeakCheck.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"

#include <QApplication>

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
      return plmtool::UnknownOption(args[i], kUsage);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return plmtool::Usage(kUsage);
  const std::string &templatePath = files[0];
  std::string out = files[1];
  if (plm::DirectoryExists(out)) out = plm::SnapshotPath(out, plm::ExtractFileName(templatePath));

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  const auto app = plmtool::MakeOffscreenApp<QApplication>();
  const QSize browser(plm::BrowserDesignWidth, plm::BrowserDesignHeight);
  const QImage picture = plm::SnapshotPicture(plm::RenderTemplatePage(templatePath), browser, scale);
  plm::SaveSnapshot(picture, plm::SnapshotQuality(step), out);
  std::printf("%s: %d x %d, quality %d\n", out.c_str(), picture.width(), picture.height(),
              plm::SnapshotQuality(step));
  plm::CheckLeaksNow();
  return 0;
}

} // namespace

PLM_COMMAND("snapshot", "snapshot TEMPLATE OUT.jpg|OUTDIR [--quality 1..10] [--scale 10..100]",
            Snapshot);
