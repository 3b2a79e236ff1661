#include "platform/graphics/Graphics.h"

#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/Streams.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace plm {

namespace {

QByteArray ReadRest(TStream &stream) {
  TMemoryStream m;
  m.CopyRest(stream);
  return QByteArray(reinterpret_cast<const char *>(m.Memory()),
                    static_cast<qsizetype>(m.ByteCount()));
}

std::function<void(const std::exception &)> &ExceptionHandler() {
  static std::function<void(const std::exception &)> h;
  return h;
}

} // namespace

// --- TGraphic

void TGraphic::Assign(const TGraphic *source) {
  throw EInvalidGraphicOperation(std::string("Cannot assign a ") +
                                 (source ? source->ClassName() : "nil") + " to a " + ClassName());
}

void TGraphic::ReadData(TStream &stream) {
  const uint32_t count = stream.ReadLE32();
  TMemoryStream m;
  m.CopyFrom(stream, count);
  m.SetPosition(0);
  LoadFromStream(m);
}

void TGraphic::WriteData(TStream &stream) const {
  TMemoryStream m;
  if (!Empty()) SaveToStream(m);
  stream.WriteLE32(static_cast<uint32_t>(m.ByteCount()));
  m.SaveToStream(stream);
}

void TGraphic::LoadFromClipboardFormat() {
  auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
  if (!app) throw EInvalidGraphicOperation("Clipboard not available");
  const QImage image = QGuiApplication::clipboard()->image();
  if (image.isNull()) throw EInvalidGraphic("Unsupported clipboard format");
  TBitmap b(image);
  Assign(&b);
}

void TGraphic::SaveToClipboardFormat() const {
  auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
  if (!app) throw EInvalidGraphicOperation("Clipboard not available");
  QGuiApplication::clipboard()->setImage(ToImage());
}

void TGraphic::LoadFromFile(const std::string &fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TGraphic::SaveToFile(const std::string &fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

void TGraphic::Changed() {
  Modified = true;
  if (OnChange) OnChange(this);
}

// --- TBitmap

void TBitmap::Assign(const TGraphic *source) {
  if (!source) {
    Assign(QImage());
    return;
  }
  if (auto *b = dynamic_cast<const TBitmap *>(source)) {
    fImage = b->fImage;
    fFormat = b->fFormat;
    fPaletteCount = b->fPaletteCount;
    Changed();
    return;
  }
  Assign(source->ToImage());
}

void TBitmap::Assign(const QImage &image) {
  fImage = image;
  if (!image.isNull()) fFormat = image.format();
  fPaletteCount = image.format() == QImage::Format_Indexed8 ? int(image.colorCount()) : 0;
  Changed();
}

void TBitmap::Draw(QPainter &painter, const QRect &rect) const {
  if (GetEmpty() || rect.isEmpty()) return;
  if (fImage.format() != QImage::Format_Indexed8) {
    painter.drawImage(rect, fImage);
    return;
  }
  // One true-colour copy of the last indexed image drawn: a still picture repaints without
  // converting again, and an animation does not keep a copy of every frame.
  static QImage cache;
  static qint64 cacheKey = 0;
  if (cache.isNull() || cacheKey != fImage.cacheKey()) {
    cache = fImage.convertToFormat(QImage::Format_RGB32);
    cacheKey = fImage.cacheKey();
  }
  painter.drawImage(rect, cache);
}

void TBitmap::LoadFromStream(TStream &stream) { Assign(ReadPicture(stream, "bmp", "Bitmap")); }

void TBitmap::SaveToStream(TStream &stream) const { WritePicture(stream, fImage, "bmp", "Bitmap"); }

void TBitmap::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (!fImage.isNull() && fImage.width() == width && fImage.height() == height) return;
  QImage image;
  if (width > 0 && height > 0) {
    image = QImage(width, height, fFormat);
    if (image.isNull()) throw EOutOfMemory("Out of memory");
    if (fFormat == QImage::Format_Indexed8) {
      if (!fImage.isNull() && fImage.colorCount() > 0)
        image.setColorTable(fImage.colorTable());
      else if (!fPendingPalette.isEmpty())
        image.setColorTable(fPendingPalette);
      else
        image.setColorTable(QList<QRgb>(256, qRgb(0, 0, 0)));
      image.fill(0);
      if (!fImage.isNull() && fImage.format() == QImage::Format_Indexed8) {
        const int w = std::min(width, fImage.width()), h = std::min(height, fImage.height());
        for (int y = 0; y < h; ++y)
          std::memcpy(image.scanLine(y), fImage.constScanLine(y), size_t(w));
      }
    } else {
      image.fill(Qt::black);
      if (!fImage.isNull()) {
        QPainter p(&image);
        p.drawImage(0, 0, fImage);
      }
    }
  }
  if (!fImage.isNull() && fImage.format() == QImage::Format_Indexed8 && image.isNull())
    fPendingPalette = fImage.colorTable();
  fImage = image;
  Changed();
}

TPixelFormat TBitmap::PixelFormat() const {
  switch (fImage.isNull() ? fFormat : fImage.format()) {
  case QImage::Format_Indexed8:
    return TPixelFormat::pf8bit;
  case QImage::Format_RGB32:
  case QImage::Format_RGB888:
    return TPixelFormat::pf24bit;
  case QImage::Format_ARGB32:
  case QImage::Format_ARGB32_Premultiplied:
    return TPixelFormat::pf32bit;
  default:
    return TPixelFormat::pfDevice;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  QImage::Format f = QImage::Format_RGB32;
  if (format == TPixelFormat::pf8bit) f = QImage::Format_Indexed8;
  if (format == TPixelFormat::pf32bit) f = QImage::Format_ARGB32;
  if (f == fFormat && (fImage.isNull() || fImage.format() == f)) return;
  fFormat = f;
  if (!fImage.isNull() && fImage.format() != f) {
    if (f == QImage::Format_Indexed8) {
      fImage = fImage.convertToFormat(f, Qt::ThresholdDither | Qt::AvoidDither);
      fPaletteCount = int(fImage.colorCount());
    } else {
      fImage = fImage.convertToFormat(f);
      fPaletteCount = 0;
    }
  }
  Changed();
}

void TBitmap::SetPalette(const QList<QRgb> &entries) {
  fPaletteCount = int(std::min<qsizetype>(entries.size(), 256));
  QList<QRgb> table = entries.mid(0, 256);
  // Every index of an 8-bit image must draw, whatever the file's table holds.
  while (table.size() < 256)
    table.append(qRgb(0, 0, 0));
  fFormat = QImage::Format_Indexed8;
  if (fImage.isNull()) {
    fPendingPalette = table;
  } else {
    if (fImage.format() != QImage::Format_Indexed8)
      fImage = fImage.convertToFormat(QImage::Format_Indexed8, table);
    fImage.setColorTable(table);
  }
  Changed();
}

QList<QRgb> TBitmap::Palette() const {
  if (fImage.isNull()) return fPendingPalette.mid(0, fPaletteCount);
  return fImage.colorTable().mid(0, fPaletteCount);
}

void TBitmap::SetPixelIndex(int x, int y, uint8_t index) {
  if (fImage.format() != QImage::Format_Indexed8 || x < 0 || y < 0 || x >= fImage.width() ||
      y >= fImage.height())
    return;
  fImage.scanLine(y)[x] = index;
  Changed();
}

uint8_t TBitmap::PixelIndex(int x, int y) const {
  if (fImage.format() != QImage::Format_Indexed8 || x < 0 || y < 0 || x >= fImage.width() ||
      y >= fImage.height())
    return 0;
  return fImage.constScanLine(y)[x];
}

void TBitmap::Paint(const std::function<void(QPainter &)> &draw) {
  if (fImage.isNull()) return;
  if (fImage.format() != QImage::Format_Indexed8) {
    {
      QPainter p(&fImage);
      draw(p);
    }
    Changed();
    return;
  }
  // Draw on a true-colour copy, then give every pixel the drawing changed the nearest
  // entry of the palette; untouched pixels keep their index.
  const QImage before = fImage.convertToFormat(QImage::Format_RGB32);
  QImage after = before;
  {
    QPainter p(&after);
    draw(p);
  }
  const QList<QRgb> table = fImage.colorTable();
  const int count = std::max(1, fPaletteCount);
  QHash<QRgb, uint8_t> nearest;
  for (int y = 0; y < fImage.height(); ++y) {
    const auto *b = reinterpret_cast<const QRgb *>(before.constScanLine(y));
    const auto *a = reinterpret_cast<const QRgb *>(after.constScanLine(y));
    uchar *line = fImage.scanLine(y);
    for (int x = 0; x < fImage.width(); ++x) {
      if (a[x] == b[x]) continue;
      const QRgb c = a[x] | 0xFF000000u;
      auto it = nearest.find(c);
      if (it == nearest.end()) {
        int best = 0;
        long bestDist = -1;
        for (int i = 0; i < count; ++i) {
          const long dr = qRed(table[i]) - qRed(c), dg = qGreen(table[i]) - qGreen(c),
                     db = qBlue(table[i]) - qBlue(c);
          const long d = dr * dr + dg * dg + db * db;
          if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = i;
          }
        }
        it = nearest.insert(c, uint8_t(best));
      }
      line[x] = it.value();
    }
  }
  Changed();
}

// --- TIcon

void TIcon::Assign(const TGraphic *source) {
  if (!source) {
    fImage = QImage();
    fBytes.clear();
    Changed();
    return;
  }
  if (auto *i = dynamic_cast<const TIcon *>(source)) {
    fImage = i->fImage;
    fBytes = i->fBytes;
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

void TIcon::Draw(QPainter &painter, const QRect &rect) const {
  if (!fImage.isNull() && !rect.isEmpty()) painter.drawImage(rect, fImage);
}

void TIcon::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }

void TIcon::LoadFromStream(TStream &stream) {
  const QByteArray bytes = ReadRest(stream);
  QImage image;
  if (!image.loadFromData(bytes, "ICO")) throw EInvalidGraphic("Icon image is not valid");
  fImage = image;
  fBytes.assign(bytes.begin(), bytes.end());
  Changed();
}

void TIcon::SaveToStream(TStream &stream) const {
  stream.WriteBuffer(fBytes.data(), fBytes.size());
}

// --- TPicture

namespace {
std::map<std::string, TFileFormat> &Registry() {
  static std::map<std::string, TFileFormat> r;
  return r;
}

std::string KeyOf(const std::string &extension) {
  std::string e = extension;
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  return LowerCase(e);
}
} // namespace

TPicture::~TPicture() {
  // The graphic must not call back into a half-destroyed picture.
  if (fGraphic) fGraphic->OnChange = nullptr;
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  if (fGraphic) fGraphic->OnChange = nullptr;
  fGraphic = std::move(graphic);
  if (fGraphic) fGraphic->OnChange = [this](TGraphic *) { GraphicChanged(); };
  GraphicChanged();
}

TBitmap *TPicture::Bitmap() {
  if (auto *b = dynamic_cast<TBitmap *>(fGraphic.get())) return b;
  auto b = std::make_unique<TBitmap>();
  TBitmap *raw = b.get();
  SetGraphic(std::move(b));
  return raw;
}

void TPicture::LoadFromFile(const std::string &fileName) {
  const std::string ext = KeyOf(ExtractFileExt(fileName));
  const TFileFormat *format = FindFileFormat(ext);
  if (!format) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = format->Create();
  try {
    graphic->LoadFromFile(fileName);
  } catch (...) {
    SetGraphic(nullptr);
    throw;
  }
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string &fileName) const {
  if (fGraphic) fGraphic->SaveToFile(fileName);
}

void TPicture::GraphicChanged() {
  if (OnChange) OnChange(this);
}

void TPicture::RegisterFileFormat(const std::string &extension, const std::string &description,
                                  TGraphicFactory create) {
  const std::string key = KeyOf(extension);
  Registry()[key] = TFileFormat{key, description, std::move(create)};
}

void TPicture::UnregisterFileFormat(const std::string &extension) {
  Registry().erase(KeyOf(extension));
}

const TFileFormat *TPicture::FindFileFormat(const std::string &extension) {
  auto &r = Registry();
  auto it = r.find(KeyOf(extension));
  return it == r.end() ? nullptr : &it->second;
}

std::vector<TFileFormat> TPicture::FileFormats() {
  std::vector<TFileFormat> v;
  for (const auto &kv : Registry())
    v.push_back(kv.second);
  return v;
}

// --- the application's exception display

void ApplicationHandleException(const std::exception &e) {
  if (auto &h = ExceptionHandler()) {
    h(e);
    return;
  }
  std::fprintf(stderr, "%s\n", e.what());
}

void SetApplicationExceptionHandler(std::function<void(const std::exception &)> handler) {
  ExceptionHandler() = std::move(handler);
}

} // namespace plm
