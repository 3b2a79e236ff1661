// plmtool render-server [--cache ROOT] [--timeout MS]: a hidden verb, the renderer process
// of the gallery and of `plmtool thumbnails`. It renders template after template with one
// browser, so the engine starts once, and answers each request over standard input and
// output (gallery/RenderProtocol.h), writing each template's entry of the thumbnail cache
// first. Each template is unpacked, limited, confined and locked down as in the preview,
// in a private folder removed afterwards.
//
// For the tests alone: PLM_RENDER_TEST_FAULT="crash=TEXT" (or "hang=TEXT") makes the
// process crash (or stop answering) on a template whose file name holds TEXT;
// "pause=TEXT" makes it, once the page is drawn, make TEMPLATE.rendering and wait (10 s
// at most) until that name is gone, unless TEMPLATE.paused exists (a test replaces the
// template meanwhile).
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include "gallery/RenderProtocol.h"
#include "gallery/ThumbnailCache.h"
#include "preview/PageRender.h"
#include "preview/TemplateRules.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Strings.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

namespace {

const char kUsage[] = "usage: plmtool render-server [--cache ROOT] [--timeout MS]\n";

bool ReadExactly(std::FILE *in, std::string &out, size_t size) {
  out.resize(size);
  return size == 0 || std::fread(out.data(), 1, size, in) == size;
}

bool ReadRequest(std::FILE *in, std::string &path) {
  std::string header;
  if (!ReadExactly(in, header, plm::render::kHeaderSize)) return false;
  const uint32_t size = plm::render::GetU32(header, 0);
  return size <= plm::render::kMaxFrame && ReadExactly(in, path, size);
}

bool Answer(std::FILE *out, const std::string &payload) {
  const std::string frame = plm::render::Frame(payload);
  return std::fwrite(frame.data(), 1, frame.size(), out) == frame.size() && std::fflush(out) == 0;
}

#ifdef PLM_RENDER_TEST_FAULTS
// Only in the tests' build of the renderer: PLM_RENDER_TEST_FAULT=ACTION=NAME crashes
// ("crash"), hangs ("hang") or pauses ("pause", "pause-crash") on a template whose name
// holds NAME.
std::string TestFault(const std::string &templatePath) {
  const char *value = std::getenv("PLM_RENDER_TEST_FAULT");
  if (!value) return std::string();
  const std::string s(value), name = plm::ExtractFileName(templatePath);
  const size_t eq = s.find('=');
  if (eq == std::string::npos || name.find(s.substr(eq + 1)) == std::string::npos) return std::string();
  return s.substr(0, eq);
}

// "pause": once the page is drawn, waits until the test removes NAME.rendering (unless
// NAME.paused exists); "pause-crash" then dies.
void PauseForTest(const std::string &templatePath) {
  const std::string fault = TestFault(templatePath);
  if ((fault != "pause" && fault != "pause-crash") || plm::FileExists(templatePath + ".paused"))
    return;
  const std::string marker = templatePath + ".rendering";
  plm::WriteFileBytes(marker, "");
  for (int i = 0; i < 200 && plm::FileExists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (fault == "pause-crash") std::abort();
}

void ActOnTestFault(const std::string &templatePath) {
  const std::string s = TestFault(templatePath);
  if (s == "crash") std::abort();
  if (s == "hang")
    for (;;) // holds until the client gives up and ends the process
      std::this_thread::sleep_for(std::chrono::seconds(1));
}
#else
void PauseForTest(const std::string &) {}
void ActOnTestFault(const std::string &) {}
#endif

bool SameState(const plm::TTemplateStamp &a, const plm::TTemplateStamp &b) {
  return a.Uri == b.Uri && a.MTime == b.MTime && a.Size == b.Size;
}

std::string RenderOne(plm::TPageRenderer &renderer, const plm::TThumbnailCache &cache,
                      const std::string &path, int timeoutMs) {
  const plm::TTemplateStamp before = plm::TThumbnailCache::Stamp(path);
  QImage picture;
  QString reason;
  try {
    if (!before.Valid()) throw plm::Exception("Le fichier du modèle est introuvable.");
    picture = plm::ThumbnailPicture(renderer.RenderTemplate(path, timeoutMs));
    PauseForTest(path);
  } catch (const std::exception &e) {
    reason = QString::fromStdString(plm::ToDisplayUtf8(plm::TemplateFailureReason(e)));
  }
  if (!SameState(before, plm::TThumbnailCache::Stamp(path))) return plm::render::ChangedAnswer();
  if (!picture.isNull()) {
    cache.Store(before, picture); // a cache that keeps nothing still gives the picture
    return plm::render::PictureAnswer(picture);
  }
  cache.StoreFailure(before, reason);
  return plm::render::FailureAnswer(reason);
}

int RenderServer(const std::vector<std::string> &args) {
  std::string root;
  int timeoutMs = plm::render::ServerTimeoutMs(plm::render::kTemplateTimeoutMs);
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--cache" && i + 1 < args.size()) {
      root = args[++i];
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeoutMs = std::atoi(args[++i].c_str());
      if (timeoutMs < 1) timeoutMs = 1;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  std::FILE *out = plm::TakeStandardOutput();
  if (!out) throw plm::Exception("cannot keep the standard output");
  // Pictures are background work: the interface of the program waiting for them, on the
  // same processors, comes first. The browser's own processes, started below, inherit it.
  plm::RunInBackground();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  const auto app = plmtool::MakeOffscreenApp<QApplication>();
  const plm::TThumbnailCache cache(root);
  plm::TPageRenderer renderer;
  std::string path;
  while (ReadRequest(stdin, path)) {
    ActOnTestFault(path);
    if (!Answer(out, RenderOne(renderer, cache, path, timeoutMs))) break;
  }
  std::fclose(out);
  return 0;
}

} // namespace

// Hidden from the list of verbs: only the gallery and `plmtool thumbnails` start it.
PLM_COMMAND("render-server", "", RenderServer);
