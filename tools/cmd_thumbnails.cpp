// plmtool thumbnails [--recursive] FOLDER...: fills the desktop's shared thumbnail cache
// with the picture of every template found, made by the gallery's renderer (one process
// for all of them). On standard error a progress bar on a terminal, a line a template
// otherwise; then how many were made, already there, or failed. Exit 1 when any failed.
#include "tools/Commands.h"
#include "tools/ProgressBar.h"

#include "gallery/RenderQueue.h"
#include "gallery/ThumbnailCache.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Strings.h"
#include "preview/TemplateWalk.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <deque>

namespace {

const char kUsage[] = "usage: plmtool thumbnails [-r | --recursive] FOLDER...\n";

// The templates of the folder in file-list order, as the catalogue and the export find them.
void TemplateWalkInto(const std::string &folder, bool recursive, std::vector<std::string> &out) {
  plm::TemplateWalk how;
  how.recursive = recursive;
  for (auto &t : plm::FindTemplates(folder, how))
    out.push_back(std::move(t.path));
}


int Thumbnails(const std::vector<std::string> &args) {
  bool recursive = false;
  std::vector<std::string> folders;
  for (const auto &a : args) {
    if (a == "--recursive" || a == "-r") recursive = true;
    else if (a.size() > 1 && a[0] == '-') {
      return plmtool::UnknownOption(a, kUsage);
    } else folders.push_back(a);
  }
  if (folders.empty()) return plmtool::Usage(kUsage);
  std::vector<std::string> templates;
  for (const auto &f : folders) {
    if (!plm::DirectoryExists(f)) {
      std::fprintf(stderr, "plmtool: %s is not a folder\n", plm::ToDisplayUtf8(f).c_str());
      return 2;
    }
    TemplateWalkInto(f, recursive, templates);
  }

  static int argc = 1;
  static char arg0[] = "plmtool";
  static char *argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  const plm::TThumbnailCache cache;
  plmtool::TFileProgress progress(templates.size());
  size_t made = 0, already = 0, failed = 0;
  std::deque<std::string> queue;
  for (const auto &path : templates) {
    const auto entry = cache.Lookup(plm::TThumbnailCache::Stamp(path));
    if (entry.Kind == plm::TThumbnailCache::Found::Nothing) {
      queue.push_back(path);
    } else if (entry.Kind == plm::TThumbnailCache::Found::Picture) {
      ++already;
      progress.Step(path, "already there");
    } else {
      ++failed; // failed before, and the file has not changed since
      progress.Step(path, "failed");
    }
  }

  plm::TRenderOptions options;
  options.CacheRoot = cache.Root();
  plm::TRenderQueue renderer(options, 1);
  QEventLoop loop;
  renderer.NextTemplate = [&] {
    if (queue.empty()) return std::string();
    std::string path = std::move(queue.front());
    queue.pop_front();
    return path;
  };
  auto answered = [&] {
    if (queue.empty() && !renderer.Busy()) loop.quit();
  };
  QObject::connect(&renderer, &plm::TRenderQueue::Rendered,
                   [&](const std::string &path, const QImage &) {
                     ++made;
                     progress.Step(path, "made");
                     answered();
                   });
  QObject::connect(&renderer, &plm::TRenderQueue::Failed,
                   [&](const std::string &path, const QString &reason) {
                     ++failed;
                     progress.Step(path, "failed");
                     std::fprintf(stderr, "plmtool: %s: %s\n", plm::ToDisplayUtf8(path).c_str(),
                                  reason.toUtf8().constData());
                     answered();
                   });
  // Made again at once, before the others.
  QObject::connect(&renderer, &plm::TRenderQueue::Again,
                   [&](const std::string &path) { queue.push_front(path); });
  if (!queue.empty()) {
    renderer.Pump();
    loop.exec();
  }
  std::printf("%zu made, %zu already there, %zu failed\n", made, already, failed);
  return failed ? 1 : 0;
}

} // namespace

PLM_COMMAND("thumbnails", "thumbnails [--recursive] FOLDER...   fill the desktop's thumbnail cache",
            Thumbnails);
