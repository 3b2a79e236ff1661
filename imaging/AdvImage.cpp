#include "imaging/AdvImage.h"

#include "imaging/MPGifImg.h"
#include "imaging/PCXImage.h"
#include "imaging/PictureClasses.h"
#include "platform/DisplayText.h"
#include "platform/FileSys.h"
#include "platform/graphics/Streams.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace plm {

namespace {

QRect Q(const TRect &r) { return r.ToQRect(); }

void FillBand(QPainter &p, const TRect &r, const QColor &c) {
  if (r.Width() > 0 && r.Height() > 0) p.fillRect(Q(r), c);
}

} // namespace

TAdvImage::TAdvImage(QWidget *owner) : QWidget(owner) {
  RegisterPictureClasses(); // a picture control opens pictures by their names
  fPicture.OnChange = [this](TPicture *) { PictureChanged(); };
}

TAdvImage::~TAdvImage() {
  fPicture.OnChange = nullptr;
  fPicture.SetGraphic(nullptr); // a GIF removes its trigger here
}

TImageType TAdvImage::ImageType() const {
  const TGraphic *g = fPicture.Graphic();
  if (dynamic_cast<const TGIFImage *>(g)) return itGif;
  if (dynamic_cast<const TJPEGImage *>(g)) return itJpeg;
  if (dynamic_cast<const TBitmap *>(g)) return itBmp;
  return itUnknown;
}

void TAdvImage::SetImageName(const std::string &name) {
  if (name == fImageName) return;
  fImageName = name;
  if (!name.empty() && FileExists(name))
    LoadImage(name);
  else
    ClearImage();
}

void TAdvImage::LoadImage(const std::string &name) {
  if (FileExists(name) && FileGetAttr(name) != INVALID_FILE_ATTRIBUTES) {
    try {
      fPicture.LoadFromFile(name);
    } catch (const EInvalidGraphic &) {
      fPicture.SetGraphic(nullptr); // not a picture this program can show: stay empty
    }
    if (auto *jpeg = dynamic_cast<TJPEGImage *>(fPicture.Graphic())) {
      jpeg->SetPixelFormat(fJPEGPixelFormat);
      jpeg->SetScale(fJPEGScale);
      jpeg->SetGrayscale(fJPEGGrayscale);
      jpeg->SetPerformance(fJPEGPerformance);
      jpeg->SetProgressiveDisplay(fJPEGProgressiveDisplay);
      // Shown pass by pass while it decodes, each pass repainting through PictureChanged.
      if (fJPEGProgressiveDisplay) {
        try {
          jpeg->DIBNeeded();
        } catch (const EInvalidGraphic &) {
        }
      }
    } else if (auto *gif = dynamic_cast<TGIFImage *>(fPicture.Graphic())) {
      gif->SetComposed(fGIFComposed);
      gif->SetAnimate(fGIFAnimate);
      gif->SetFrameDelays(fGifAnimateSpeed);
    }
  } else {
    fPicture.SetGraphic(nullptr);
  }
  fFileSize = 0;
  if (FileExists(name)) {
    TFileStream f(name, fmOpenRead);
    fFileSize = f.Size();
  }
  PaintNow();
}

void TAdvImage::ClearImage() {
  fPicture.SetGraphic(nullptr);
  fImageRect = TRect{};
  fImageName.clear();
  PaintSurround();
}

void TAdvImage::PictureChanged() {
  const TGraphic *g = fPicture.Graphic();
  if (!g || g->Width() < 1 || g->Height() < 1) return;
  if ((dynamic_cast<const TGIFImage *>(g) && fGIFAnimate) ||
      (dynamic_cast<const TJPEGImage *>(g) && fJPEGProgressiveDisplay))
    PaintNow();
}

void TAdvImage::PaintNow() {
  if (fPainting)
    update(); // a change signalled while painting: paint again afterwards
  else
    repaint();
}

void TAdvImage::PaintSurround() {
  if (fPainting) {
    update();
    return;
  }
  QRegion region(rect());
  if (fPicture.Width() > 0) region -= Q(fImageRect);
  fSurroundOnly = true;
  repaint(region);
  fSurroundOnly = false;
}

void TAdvImage::paintEvent(QPaintEvent *) {
  QPainter p(this);
  fPainting = true;
  try {
    if (fSurroundOnly)
      DrawSurround(p);
    else
      Paint(p);
  } catch (...) {
    fPainting = false;
    throw;
  }
  fPainting = false;
}

void TAdvImage::Paint(QPainter &p) {
  const int W = width(), H = height();
  fImageRect = Rect(0, 0, W, H);
  TRect area = Rect(0, 0, W, H);
  const QFontMetrics fm(font());
  if (fShowFrame3D) {
    // A raised bevel: highlight top and left, shadow bottom and right.
    const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
    for (int i = 0; i < fBevelWidth; ++i) {
      p.fillRect(QRect(i, i, W - 2 * i, 1), light);
      p.fillRect(QRect(i, i, 1, H - 2 * i), light);
      p.fillRect(QRect(i, H - 1 - i, W - 2 * i, 1), dark);
      p.fillRect(QRect(W - 1 - i, i, 1, H - 2 * i), dark);
    }
    area = Rect(fBevelWidth, fBevelWidth, W - fBevelWidth, H - fBevelWidth);
  }
  if (!fCaption.empty()) area.Bottom -= fm.height();

  TGraphic *g = fPicture.Graphic();
  const int pw = g ? g->Width() : 0, ph = g ? g->Height() : 0;
  if (pw == 0) {
    if (fShowEmptyLabel) {
      const QString label = ToDisplay(fEmptyLabel);
      const int x = (W - fm.horizontalAdvance(label)) / 2, y = (H - fm.height()) / 2;
      p.setPen(palette().color(QPalette::WindowText));
      p.drawText(QPoint(x, y + fm.ascent()), label);
    }
    return;
  }
  fImageRect = fStretchRatio ? FitRect(area.Width(), area.Height(), pw, ph) : Rect(0, 0, pw, ph);
  if (fShowFrame3D) {
    fImageRect.Left += fBevelWidth;
    fImageRect.Top += fBevelWidth;
    fImageRect.Right += fBevelWidth;
    fImageRect.Bottom += fBevelWidth;
  }
  if (fCenterView) fImageRect = CenterRect(area, fImageRect);
  if (fStretchRatio)
    g->Draw(p, Q(fImageRect));
  else
    g->Draw(p, QRect(fImageRect.Left, fImageRect.Top, pw, ph));
  DrawSurround(p);
}

void TAdvImage::DrawSurround(QPainter &p) {
  const int W = width(), H = height();
  const int b = fShowFrame3D ? fBevelWidth : 0;
  const QColor color = fChecked ? fCheckColor : palette().color(QPalette::Window);
  const TRect &R = fImageRect;
  if (fPicture.Width() > 0) {
    FillBand(p, Rect(b, b, R.Right, R.Top), color);
    FillBand(p, Rect(R.Right, b, W - b, R.Bottom), color);
    FillBand(p, Rect(R.Left, R.Bottom, W - b, H - b), color);
    FillBand(p, Rect(b, R.Top, R.Left, H - b), color);
  } else {
    FillBand(p, Rect(b, b, W - b, H - b), color);
  }
  if (fCaption.empty()) return;
  const QFontMetrics fm(font());
  const QString text = CaptionText(fm, ToDisplay(fCaption), W - 2 * b);
  const int x = (W - fm.horizontalAdvance(text)) / 2;
  const int y = H - fm.height() - fBevelWidth;
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(QPoint(x, y + fm.ascent()), text);
}

TRect TAdvImage::FitRect(int32_t AW, int32_t AH, int32_t PW, int32_t PH) {
  int32_t right = PW, bottom = PH;
  if (AW < PW && AH < PH) {
    const auto B1 = static_cast<int32_t>(double(AW) / double(PW) * double(PH));
    if (B1 > AH) {
      right = static_cast<int32_t>(double(AH) / double(B1) * double(AW));
      bottom = AH;
    } else {
      right = AW;
      bottom = B1;
    }
  } else if (AH < PH) {
    right = static_cast<int32_t>(double(AH) / double(PH) * double(PW));
    bottom = AH;
  } else if (AW < PW) {
    right = AW;
    bottom = static_cast<int32_t>(double(AW) / double(PW) * double(PH));
  }
  return Rect(0, 0, right, bottom);
}

TRect TAdvImage::CenterRect(const TRect &outer, const TRect &inner) {
  const int32_t left = outer.Left + outer.Width() / 2 - inner.Width() / 2;
  const int32_t top = outer.Top + outer.Height() / 2 - inner.Height() / 2;
  return Rect(left, top, left + inner.Width(), top + inner.Height());
}

QString TAdvImage::CaptionText(const QFontMetrics &metrics, const QString &caption, int maxWidth) {
  if (metrics.horizontalAdvance(caption) <= maxWidth) return caption;
  QString text;
  const qsizetype n = std::min<qsizetype>(caption.size(), 255);
  for (qsizetype i = 0; i < n && metrics.horizontalAdvance(text) < maxWidth; ++i)
    text += caption[i];
  return text;
}

// --- properties

void TAdvImage::SetBevelWidth(int32_t value) {
  if (value == fBevelWidth) return;
  fBevelWidth = value;
  update();
}

void TAdvImage::SetGIFAnimate(bool value) {
  if (value == fGIFAnimate) return;
  if (auto *gif = dynamic_cast<TGIFImage *>(fPicture.Graphic())) gif->SetAnimate(value);
  fGIFAnimate = value;
}

void TAdvImage::SetGIFComposed(bool value) {
  if (value == fGIFComposed) return;
  fGIFComposed = value;
  if (auto *gif = dynamic_cast<TGIFImage *>(fPicture.Graphic())) gif->SetComposed(value);
  update();
}

void TAdvImage::SetGifAnimateSpeed(int32_t value) {
  if (value == fGifAnimateSpeed) return;
  if (auto *gif = dynamic_cast<TGIFImage *>(fPicture.Graphic())) gif->SetFrameDelays(value);
  fGifAnimateSpeed = value;
}

#define PLM_INVALIDATING_SETTER(Name, Type, field)                                                 \
  void TAdvImage::Set##Name(Type value) {                                                          \
    if (value == field) return;                                                                    \
    field = value;                                                                                 \
    update();                                                                                      \
  }

PLM_INVALIDATING_SETTER(ShowFrame3D, bool, fShowFrame3D)
PLM_INVALIDATING_SETTER(StretchRatio, bool, fStretchRatio)
PLM_INVALIDATING_SETTER(CenterView, bool, fCenterView)
PLM_INVALIDATING_SETTER(ShowEmptyLabel, bool, fShowEmptyLabel)
PLM_INVALIDATING_SETTER(JPEGPixelFormat, TJPEGPixelFormat, fJPEGPixelFormat)
PLM_INVALIDATING_SETTER(JPEGScale, TJPEGScale, fJPEGScale)
PLM_INVALIDATING_SETTER(JPEGGrayscale, bool, fJPEGGrayscale)
PLM_INVALIDATING_SETTER(JPEGPerformance, TJPEGPerformance, fJPEGPerformance)
PLM_INVALIDATING_SETTER(JPEGSmoothing, bool, fJPEGSmoothing)
PLM_INVALIDATING_SETTER(JPEGProgressiveEncoding, bool, fJPEGProgressiveEncoding)
PLM_INVALIDATING_SETTER(CheckColor, const QColor &, fCheckColor)
PLM_INVALIDATING_SETTER(EmptyLabel, const std::string &, fEmptyLabel)

#undef PLM_INVALIDATING_SETTER

void TAdvImage::SetChecked(bool value) {
  if (value == fChecked) return;
  fChecked = value;
  PaintSurround();
}

void TAdvImage::SetCaption(const std::string &value) {
  if (value == fCaption) return;
  const bool both = !fCaption.empty() && !value.empty();
  fCaption = value;
  if (both)
    PaintSurround();
  else
    update();
}

} // namespace plm
