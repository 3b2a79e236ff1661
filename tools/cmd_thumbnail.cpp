// plmtool thumbnail [-s SIZE] TEMPLATE OUT.png: a picture of the template's page for file
// managers (the desktop's thumbnailer entry runs it), at most SIZE pixels on its longer
// side, proportions kept. A template that cannot be shown writes nothing.
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include "preview/PageRender.h"

#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/LeakCheck.h"

#include <QApplication>
#include <QBuffer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] = "usage: plmtool thumbnail [-s SIZE] TEMPLATE OUT.png\n";
constexpr int kDefaultSize = plm::kThumbnailSize;
constexpr int kMaxSize = 4096;

int Thumbnail(const std::vector<std::string> &args) {
  int size = kDefaultSize;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-s" || args[i] == "--size") {
      char *end = nullptr;
      const long v = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (i + 1 >= args.size() || args[i + 1].empty() || *end != '\0' || v < 1 || v > kMaxSize) {
        std::fprintf(stderr, "plmtool: the size must be a number of pixels from 1 to %d\n%s",
                     kMaxSize, kUsage);
        return 2;
      }
      size = int(v);
      ++i;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return plmtool::UnknownOption(args[i], kUsage);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return plmtool::Usage(kUsage);

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  const auto app = plmtool::MakeOffscreenApp<QApplication>();
  const QImage picture = plm::ThumbnailPicture(plm::RenderTemplatePage(files[0]), size);
  if (picture.isNull()) throw plm::Exception("the page could not be drawn");
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG"))
    throw plm::Exception("the picture could not be encoded");
  if (const int e = plm::WriteFileBytes(files[1], std::string_view(png.constData(), size_t(png.size()))))
    throw plm::EFOpenError("Cannot create file \"" + files[1] + "\". " + std::strerror(e));
  plm::CheckLeaksNow();
  return 0;
}

} // namespace

PLM_COMMAND("thumbnail", "thumbnail [-s SIZE] TEMPLATE OUT.png   PNG picture of the page, SIZE pixels at most (256)",
            Thumbnail);
