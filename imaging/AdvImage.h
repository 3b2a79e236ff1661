#pragma once
// TAdvImage: a control that shows one picture file given by name, loaded through TPicture
// (the class chosen by the file's extension). It draws the picture at its natural size or
// shrunk to fit with its proportions kept, centred or at the top left, inside an optional
// raised 3D frame, with an optional caption under it, an optional text when empty and an
// optional highlight colour around it. GIF pictures animate through the shared timer pool.
#include <QColor>
#include <QWidget>

#include <cstdint>
#include <string>

#include "imaging/JPEGImage.h"
#include "platform/graphics/Graphics.h"

class QPainter;
class QFontMetrics;

namespace plm {

enum TImageType { itBmp, itGif, itJpeg, itUnknown };

class TAdvImage : public QWidget {
  Q_OBJECT
public:
  explicit TAdvImage(QWidget *owner = nullptr);
  ~TAdvImage() override;

  // itBmp for every still picture, which is read into a bitmap (BMP, PNG, TIFF, PCX).
  TImageType ImageType() const;
  const std::string &ImageName() const { return fImageName; }
  // Loads the file when it exists (an unreadable picture format leaves the control empty);
  // a missing file or an empty name empties the control and the name reads back empty.
  // Other load errors pass to the caller.
  void SetImageName(const std::string &name);

  int32_t BevelWidth() const { return fBevelWidth; }
  void SetBevelWidth(int32_t value);
  bool GIFAnimate() const { return fGIFAnimate; }
  void SetGIFAnimate(bool value);
  // GIF pictures shown as their frames composed on the logical screen (TGIFImage::
  // SetComposed) rather than frame by frame; off by default.
  bool GIFComposed() const { return fGIFComposed; }
  void SetGIFComposed(bool value);
  bool ShowFrame3D() const { return fShowFrame3D; }
  void SetShowFrame3D(bool value);
  bool StretchRatio() const { return fStretchRatio; }
  void SetStretchRatio(bool value);
  bool CenterView() const { return fCenterView; }
  void SetCenterView(bool value);
  bool ShowEmptyLabel() const { return fShowEmptyLabel; }
  void SetShowEmptyLabel(bool value);
  TJPEGPixelFormat JPEGPixelFormat() const { return fJPEGPixelFormat; }
  void SetJPEGPixelFormat(TJPEGPixelFormat value);
  TJPEGScale JPEGScale() const { return fJPEGScale; }
  void SetJPEGScale(TJPEGScale value);
  bool JPEGGrayscale() const { return fJPEGGrayscale; }
  void SetJPEGGrayscale(bool value);
  TJPEGPerformance JPEGPerformance() const { return fJPEGPerformance; }
  void SetJPEGPerformance(TJPEGPerformance value);
  bool JPEGSmoothing() const { return fJPEGSmoothing; }
  void SetJPEGSmoothing(bool value);
  bool JPEGProgressiveEncoding() const { return fJPEGProgressiveEncoding; }
  void SetJPEGProgressiveEncoding(bool value);
  int JPEGCompressionQuality() const { return fJPEGCompressionQuality; }
  void SetJPEGCompressionQuality(int value) { fJPEGCompressionQuality = value; }
  bool JPEGProgressiveDisplay() const { return fJPEGProgressiveDisplay; }
  void SetJPEGProgressiveDisplay(bool value) { fJPEGProgressiveDisplay = value; }
  const std::string &Caption() const { return fCaption; }
  void SetCaption(const std::string &value);
  bool Checked() const { return fChecked; }
  void SetChecked(bool value);
  QColor CheckColor() const { return fCheckColor; }
  void SetCheckColor(const QColor &value);
  int32_t GifAnimateSpeed() const { return fGifAnimateSpeed; }
  void SetGifAnimateSpeed(int32_t value);
  const std::string &EmptyLabel() const { return fEmptyLabel; }
  void SetEmptyLabel(const std::string &value);

  TPicture &Picture() { return fPicture; }
  // Where the picture was last drawn.
  TRect ImageRect() const { return fImageRect; }
  // Size of the file last loaded; 0 when it did not exist.
  int64_t FileSize() const { return fFileSize; }

  // Repaints the area around the picture (and the caption) now.
  void PaintSurround();

  // The picture's rectangle in an area of AW x AH, shrunk to fit with its proportions
  // kept, never enlarged; left and top 0.
  static TRect FitRect(int32_t AW, int32_t AH, int32_t PW, int32_t PH);
  // inner moved to the centre of outer, its size kept.
  static TRect CenterRect(const TRect &outer, const TRect &inner);
  // The caption as drawn in maxWidth pixels: whole when it fits, else cut as it grows
  // past the limit (at most its first 255 characters).
  static QString CaptionText(const QFontMetrics &metrics, const QString &caption, int maxWidth);

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  void LoadImage(const std::string &name);
  void ClearImage();
  void PictureChanged();
  void PaintNow();
  void Paint(QPainter &painter);
  void DrawSurround(QPainter &painter);

  TPicture fPicture;
  std::string fImageName;
  TRect fImageRect;
  int64_t fFileSize = 0;
  bool fPainting = false;
  bool fSurroundOnly = false;

  int32_t fBevelWidth = 1;
  bool fGIFAnimate = false;
  bool fGIFComposed = false;
  bool fShowFrame3D = false;
  bool fStretchRatio = false;
  bool fCenterView = false;
  bool fShowEmptyLabel = false;
  TJPEGPixelFormat fJPEGPixelFormat = jf24Bit;
  TJPEGScale fJPEGScale = jsFullSize;
  bool fJPEGGrayscale = false;
  TJPEGPerformance fJPEGPerformance = jpBestQuality;
  bool fJPEGSmoothing = false;
  bool fJPEGProgressiveEncoding = false;
  int fJPEGCompressionQuality = 0;
  bool fJPEGProgressiveDisplay = false;
  std::string fCaption;
  bool fChecked = false;
  QColor fCheckColor = QColor(255, 0, 0);
  int32_t fGifAnimateSpeed = 10;
  std::string fEmptyLabel = "Empty";
};

} // namespace plm
