#pragma once
// JPEG pictures over libjpeg. The compressed bytes are kept as loaded; the bitmap is decoded
// on first need with the decoding options set at that time (pixel format, scale, grayscale,
// performance, progressive display). A picture assigned from an image is compressed on
// first need (saving) as a baseline colour JPEG at CompressionQuality.
#include "platform/Exceptions.h"
#include "platform/graphics/Graphics.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace plm {

// A libjpeg failure: the library's message text.
class EJPEG : public EInvalidGraphic {
public:
  using EInvalidGraphic::EInvalidGraphic;
};

enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };

class TJPEGImage : public TGraphic {
public:
  TJPEGImage();
  ~TJPEGImage() override;

  const char *ClassName() const override { return "TJPEGImage"; }
  // From another JPEG picture: its bytes and settings; from any other picture: its image,
  // compressed on first need.
  void Assign(const TGraphic *source) override;
  void Assign(const QImage &image);
  void Draw(QPainter &painter, const QRect &rect) const override;
  bool GetEmpty() const override;
  // The size of the decoded bitmap: the stored size reduced by Scale.
  int GetHeight() const override;
  int GetWidth() const override;
  // A JPEG picture cannot be resized: raises EInvalidGraphicOperation
  // "Cannot change the size of a JPEG image".
  void SetHeight(int value) override;
  void SetWidth(int value) override;
  // Takes the bytes from the stream's position to its end; reads the header (raises EJPEG
  // when it is not a JPEG stream).
  void LoadFromStream(TStream &stream) override;
  // Writes the JPEG bytes, compressing the assigned image first when needed.
  void SaveToStream(TStream &stream) const override;
  QImage ToImage() const override;

  // Compresses the assigned image now with the current settings (replacing any bytes).
  void Compress();
  // Decodes the bitmap now when it is missing.
  void DIBNeeded() const;
  // Compresses when there are no JPEG bytes yet.
  void JPEGNeeded() const;
  // The decoded bitmap (decoding on need); empty for an empty picture.
  const TBitmap &Bitmap() const;

  TJPEGPixelFormat PixelFormat() const { return fPixelFormat; }
  void SetPixelFormat(TJPEGPixelFormat value);
  TJPEGScale Scale() const { return fScale; }
  void SetScale(TJPEGScale value);
  bool Grayscale() const { return fGrayscale; }
  void SetGrayscale(bool value);
  TJPEGPerformance Performance() const { return fPerformance; }
  void SetPerformance(TJPEGPerformance value);
  // Decoding a progressive file shows each output pass: a change is signalled after each.
  bool ProgressiveDisplay() const { return fProgressiveDisplay; }
  void SetProgressiveDisplay(bool value) { fProgressiveDisplay = value; }
  // Compression settings.
  int CompressionQuality() const { return fQuality; }
  void SetCompressionQuality(int value); // clamped to 1..100
  bool ProgressiveEncoding() const { return fProgressiveEncoding; }
  void SetProgressiveEncoding(bool value);
  bool Smoothing() const { return fSmoothing; }
  void SetSmoothing(bool value) { fSmoothing = value; }

  // True when the stored bytes are a progressive JPEG.
  bool ProgressiveEncoded() const { return fProgressiveFile; }
  // The stored size, before scaling.
  int StoredWidth() const { return fStoredWidth; }
  int StoredHeight() const { return fStoredHeight; }
  // Pictures larger than this many pixels (decoded, or stored before scaling) are refused
  // (EJPEG "JPEG image too large") before anything is decoded.
  static constexpr int64_t MaxPixels = 8192LL * 8192LL;
  static constexpr int64_t MaxStoredPixels = 16384LL * 16384LL;

private:
  void FreeBitmap();
  void Decode() const;
  void OptionChanged();
  // A decoding option set: the picture is decoded again with it when it changed.
  template <class T> void SetOption(T &option, T value) {
    if (value == option) return;
    option = value;
    OptionChanged();
  }

  mutable std::vector<uint8_t> fData; // JPEG bytes; empty when none
  // The decoded image, or the image assigned (fFromImage) and waiting to be compressed.
  mutable std::unique_ptr<TBitmap> fBitmap;
  bool fFromImage = false;
  mutable bool fDecoding = false;
  mutable bool fDecodeFailed = false;
  int fStoredWidth = 0, fStoredHeight = 0;
  bool fProgressiveFile = false;

  TJPEGPixelFormat fPixelFormat = jf24Bit;
  TJPEGScale fScale = jsFullSize;
  bool fGrayscale = false;
  TJPEGPerformance fPerformance = jpBestQuality;
  bool fProgressiveDisplay = false;
  int fQuality = 90;
  bool fProgressiveEncoding = false;
  bool fSmoothing = false;
};

} // namespace plm
