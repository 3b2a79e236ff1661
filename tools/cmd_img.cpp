// plmtool imginfo and gifframes: the image header inspector and the GIF decoder from the
// command line.
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include "imaging/DCImageInfo.h"
#include "imaging/GifScreen.h"
#include "imaging/MPGifImg.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

int ImgInfo(const std::vector<std::string> &args) {
  if (args.empty()) {
    std::fputs("usage: plmtool imginfo FILE...\n", stderr);
    return 2;
  }
  for (const std::string &file : args) {
    plm::TDCImageInfo info;
    info.ReadInfo(file);
    std::printf("%s\n\n", plm::ImageInfoText(info, "\n").c_str());
  }
  return 0;
}

bool SavePng(const QImage &image, const std::string &path) {
  if (image.save(QString::fromStdString(path), "PNG")) return true;
  std::fprintf(stderr, "plmtool: cannot write %s\n", path.c_str());
  return false;
}

// The frames as the picture window shows them: the logical screen, transparent where
// nothing was drawn, once per shown frame.
int WriteShownFrames(plm::TGIFImage &gif, const std::string &outDir) {
  gif.SetComposed(true);
  const plm::TGIFScreen &screen = gif.Screen();
  for (int i = 0; i < screen.Count(); ++i) {
    gif.SetCurrentFrame(screen.LastImage(i));
    const QImage image = gif.ToImage().convertToFormat(QImage::Format_ARGB32);
    char name[32];
    std::snprintf(name, sizeof name, "frame%03d.png", i);
    if (!SavePng(image, plm::JoinPath({outDir, name}))) return 1;
    std::printf("%s %dx%d delay %d\n", name, image.width(), image.height(),
                gif.Data()->FrameDelay(screen.LastImage(i)));
  }
  if (!screen.Error().empty()) {
    std::fprintf(stderr, "plmtool: %s\n", screen.Error().c_str());
    return 1;
  }
  return 0;
}

int GifFrames(const std::vector<std::string> &givenArgs) {
  std::vector<std::string> args = givenArgs;
  const bool shown = !args.empty() && args[0] == "--shown";
  if (shown) args.erase(args.begin());
  if (args.size() != 2) {
    std::fputs("usage: plmtool gifframes [--shown] GIF OUTDIR\n", stderr);
    return 2;
  }
  // Plain-text extensions draw with fonts, which need a graphical application.
  const auto app = plmtool::MakeOffscreenApp<QGuiApplication>();
  const std::string &outDir = args[1];
  plm::TGIFImage gif;
  gif.LoadFromFile(args[0]);
  if (!plm::ForceDirectories(outDir)) {
    std::fprintf(stderr, "plmtool: cannot create folder %s\n", outDir.c_str());
    return 1;
  }
  const int count = gif.FrameCount();
  if (shown && WriteShownFrames(gif, outDir) != 0) return 1;
  for (int i = 0; i < count && !shown; ++i) {
    const plm::TBitmap &bitmap = gif.Data()->FrameBitmap(i);
    char name[32];
    std::snprintf(name, sizeof name, "frame%03d.png", i);
    const std::string path = plm::JoinPath({outDir, name});
    // A frame without a picture (extensions before the trailer) is written as 1 x 1.
    QImage image = bitmap.Image().isNull() ? QImage(1, 1, QImage::Format_Indexed8) : bitmap.Image();
    if (bitmap.Image().isNull()) {
      image.setColorTable({qRgb(0, 0, 0)});
      image.fill(0);
    }
    if (!SavePng(image, path)) return 1;
    std::printf("%s %dx%d delay %d\n", name, bitmap.Width(), bitmap.Height(),
                gif.Data()->FrameDelay(i));
  }
  const std::string error = gif.Data()->ReadErrorMessage();
  if (!error.empty()) {
    std::fprintf(stderr, "plmtool: %s: reading stopped after %d frame(s): %s\n", args[0].c_str(),
                 count, error.c_str());
    return 1;
  }
  return 0;
}

// Decodes through the picture registry, as the viewer opens a picture: the class is the
// one registered for the file's extension.
int ImgDecode(const std::vector<std::string> &args) {
  if (args.size() != 2) {
    std::fputs("usage: plmtool imgdecode PICTURE OUT.png\n", stderr);
    return 2;
  }
  const auto app = plmtool::MakeOffscreenApp<QGuiApplication>();
  plm::TPicture picture;
  picture.LoadFromFile(args[0]);
  const QImage image = picture.Graphic() ? picture.Graphic()->ToImage() : QImage();
  if (image.isNull() || !image.save(QString::fromStdString(args[1]), "PNG")) {
    std::fprintf(stderr, "plmtool: cannot write %s\n", args[1].c_str());
    return 1;
  }
  std::printf("%s %s %dx%d\n", picture.Graphic()->ClassName(), args[1].c_str(), image.width(),
              image.height());
  return 0;
}

} // namespace

PLM_COMMAND("imginfo", "imginfo FILE...           type, width, height, depth and size of pictures",
            ImgInfo);
PLM_COMMAND("imgdecode",
            "imgdecode PICTURE OUT.png  decode a picture by its extension's class into a PNG",
            ImgDecode);
PLM_COMMAND("gifframes",
            "gifframes [--shown] GIF OUTDIR  decode every frame to OUTDIR/frameNNN.png (--shown: "
            "the frames as the picture window shows them, RGBA of the logical screen; exit 1 "
            "when the file is damaged)",
            GifFrames);
