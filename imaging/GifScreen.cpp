#include "imaging/GifScreen.h"

#include "imaging/MPGifImg.h"

#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace plm {

int64_t TGIFScreen::MaxScreenPixels = int64_t(1) << 26;

TGIFScreen::TGIFScreen(TGIFData &data) : fData(data) {
  const int count = data.FrameCount();
  int lastImage = -1;
  for (int i = 0; i < count; ++i) {
    const TGIFFrame &f = data.Frame(i);
    if (!f.HasImage) continue;
    lastImage = i;
    if (f.DelayTime > 0) fLast.push_back(i);
  }
  if (lastImage >= 0 && (fLast.empty() || fLast.back() != lastImage)) fLast.push_back(lastImage);
  if (fLast.empty()) return;
  const int64_t pixels = int64_t(data.ScreenWidth) * data.ScreenHeight;
  if (pixels > MaxScreenPixels) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "GIF screen too large to compose (more than %lld pixels)",
                  static_cast<long long>(MaxScreenPixels));
    fError = buf;
    fLast.clear();
    return;
  }
  fScreen = QImage(data.ScreenWidth, data.ScreenHeight, QImage::Format_ARGB32_Premultiplied);
}

int TGIFScreen::ShownFrameOf(int image) const {
  if (fLast.empty()) return -1;
  const auto it = std::lower_bound(fLast.begin(), fLast.end(), image);
  return it == fLast.end() ? Count() - 1 : static_cast<int>(it - fLast.begin());
}

void TGIFScreen::Restart() {
  fScreen.fill(0);
  fCurrent = -1;
  fDrawn = -1;
}

QRect TGIFScreen::Area(const TGIFFrame &frame) const {
  const QImage &image = frame.Bitmap().Image();
  if (image.isNull()) return QRect();
  return QRect(frame.Left, frame.Top, image.width(), image.height()) & fScreen.rect();
}

const QImage &TGIFScreen::Compose(int index) {
  if (index < 0 || index >= Count() || index == fCurrent) return fScreen;
  if (fCurrent < 0 || index < fCurrent) Restart();
  const int last = fLast[static_cast<size_t>(index)];
  for (int i = fDrawn + 1; i <= last; ++i) {
    const TGIFFrame &f = fData.Frame(i);
    if (!f.HasImage) continue;
    if (fDrawn >= 0) Dispose(fData.Frame(fDrawn));
    if (f.Disposal == 3) {
      const QRect r = Area(f);
      fSaved = r.isEmpty() ? QImage() : fScreen.copy(r);
    }
    DrawImage(f);
    fDrawn = i;
  }
  fCurrent = index;
  return fScreen;
}

void TGIFScreen::Dispose(const TGIFFrame &frame) {
  const QRect r = Area(frame);
  if (r.isEmpty()) return;
  if (frame.Disposal == 2) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      std::memset(fScreen.scanLine(y) + size_t(r.left()) * 4, 0, size_t(r.width()) * 4);
  } else if (frame.Disposal == 3 && fSaved.size() == r.size()) {
    for (int y = 0; y < r.height(); ++y)
      std::memcpy(fScreen.scanLine(r.top() + y) + size_t(r.left()) * 4, fSaved.constScanLine(y),
                  size_t(r.width()) * 4);
  }
}

namespace {

// Where row y of an image of height h comes in its data: rows in order, or in the four
// passes of interlacing.
int64_t DataRow(int y, int h, bool interlaced) {
  if (!interlaced) return y;
  const int pass0 = (h + 7) / 8, pass1 = (h + 3) / 8, pass2 = (h + 1) / 4;
  if (y % 8 == 0) return y / 8;
  if (y % 8 == 4) return pass0 + y / 8;
  if (y % 4 == 2) return pass0 + pass1 + y / 4;
  return pass0 + pass1 + pass2 + y / 2;
}

} // namespace

void TGIFScreen::DrawImage(const TGIFFrame &frame) {
  const QImage &image = frame.Bitmap().Image();
  const QRect r = Area(frame);
  if (r.isEmpty()) return;
  if (image.format() != QImage::Format_Indexed8) {
    QPainter p(&fScreen);
    p.drawImage(frame.Left, frame.Top, image);
    return;
  }
  // Every index to its premultiplied colour (black beyond the table); the transparent one
  // to 0, which no opaque colour is.
  QRgb colors[256];
  const QList<QRgb> table = image.colorTable();
  for (int i = 0; i < 256; ++i)
    colors[i] = i < table.size() ? qPremultiply(table[i]) | 0xFF000000u : 0xFF000000u;
  const bool transparent = frame.TransparentIndex >= 0;
  if (transparent) colors[frame.TransparentIndex] = 0;
  const int w = image.width(), h = image.height();
  const bool whole = frame.PixelsDecoded >= int64_t(w) * h;
  for (int y = r.top(); y <= r.bottom(); ++y) {
    const int sy = y - frame.Top;
    int x1 = r.right() + 1;
    if (!whole) {
      const int64_t reached = frame.PixelsDecoded - DataRow(sy, h, frame.Interlaced) * w;
      x1 = int(std::min<int64_t>(x1, frame.Left + std::clamp<int64_t>(reached, 0, w)));
    }
    const uchar *src = image.constScanLine(sy) + (r.left() - frame.Left);
    auto *dst = reinterpret_cast<QRgb *>(fScreen.scanLine(y)) + r.left();
    const int n = x1 - r.left();
    if (!transparent) {
      for (int x = 0; x < n; ++x)
        dst[x] = colors[src[x]];
    } else {
      for (int x = 0; x < n; ++x) {
        const QRgb c = colors[src[x]];
        if (c) dst[x] = c;
      }
    }
  }
}

} // namespace plm
