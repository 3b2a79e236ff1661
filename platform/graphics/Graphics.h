#pragma once
// The picture framework: the picture base class TGraphic with its change notification,
// the bitmap and icon classes, and TPicture, which loads a file through the registry of
// picture formats chosen by the file's extension (letter case ignored).
#include <QImage>
#include <QList>
#include <QRect>
#include <QRgb>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;

namespace plm {

class TStream;

// A rectangle as left, top, right, bottom (right and bottom exclusive).
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
  bool operator==(const TRect &) const = default;
};
inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

class TGraphic {
public:
  TGraphic() = default;
  TGraphic(const TGraphic &) = delete;
  TGraphic &operator=(const TGraphic &) = delete;
  virtual ~TGraphic() = default;

  // The class name, as error messages quote it ("TBitmap", "TGIFImage", ...).
  virtual const char *ClassName() const { return "TGraphic"; }

  // Takes the picture of source. The base raises EInvalidGraphicOperation
  // "Cannot assign a %s to a %s".
  virtual void Assign(const TGraphic *source);
  // Draws the picture stretched over rect.
  virtual void Draw(QPainter &painter, const QRect &rect) const = 0;
  virtual bool GetEmpty() const = 0;
  virtual int GetHeight() const = 0;
  virtual int GetWidth() const = 0;
  // The persisted form: a 32-bit byte count, then the bytes SaveToStream writes.
  virtual void ReadData(TStream &stream);
  virtual void WriteData(TStream &stream) const;
  virtual void SetHeight(int value) = 0;
  virtual void SetWidth(int value) = 0;
  virtual void LoadFromStream(TStream &stream) = 0;
  virtual void SaveToStream(TStream &stream) const = 0;
  // Clipboard exchange of the picture as an image.
  virtual void LoadFromClipboardFormat();
  virtual void SaveToClipboardFormat() const;
  // The picture as an image (null when empty); used by Assign across classes.
  virtual QImage ToImage() const = 0;

  virtual void LoadFromFile(const std::string &fileName);
  virtual void SaveToFile(const std::string &fileName) const;

  bool Empty() const { return GetEmpty(); }
  int Width() const { return GetWidth(); }
  int Height() const { return GetHeight(); }

  bool Modified = false;
  bool Transparent = false;
  // Called after every change of the picture.
  std::function<void(TGraphic *sender)> OnChange;

protected:
  void Changed();
};

enum class TPixelFormat { pfDevice, pf8bit, pf24bit, pf32bit };

// A bitmap: 8-bit indexed with a palette (pf8bit), or true colour.
class TBitmap : public TGraphic {
public:
  TBitmap() = default;
  explicit TBitmap(const QImage &image) : fImage(image) {}

  const char *ClassName() const override { return "TBitmap"; }
  void Assign(const TGraphic *source) override;
  void Assign(const QImage &image);
  void Draw(QPainter &painter, const QRect &rect) const override;
  bool GetEmpty() const override { return fImage.isNull() || fImage.width() == 0; }
  int GetHeight() const override { return fImage.height(); }
  int GetWidth() const override { return fImage.width(); }
  void SetHeight(int value) override { SetSize(GetWidth(), value); }
  void SetWidth(int value) override { SetSize(value, GetHeight()); }
  void LoadFromStream(TStream &stream) override;     // BMP file
  void SaveToStream(TStream &stream) const override; // BMP file
  QImage ToImage() const override { return fImage; }

  // Resizes keeping the pixel format and palette; new pixels are index 0 / black.
  // Raises EOutOfMemory when the pixels cannot be allocated.
  void SetSize(int width, int height);
  TPixelFormat PixelFormat() const;
  void SetPixelFormat(TPixelFormat format);
  // The palette of an 8-bit bitmap: the entries as given (PaletteCount of them), padded
  // in the image to 256 so that every index draws.
  void SetPalette(const QList<QRgb> &entries);
  QList<QRgb> Palette() const;
  int PaletteCount() const { return fPaletteCount; }
  void SetPixelIndex(int x, int y, uint8_t index);
  uint8_t PixelIndex(int x, int y) const;
  // Draws on the bitmap; an 8-bit bitmap maps every changed pixel to the nearest entry
  // of its palette. Signals a change.
  void Paint(const std::function<void(QPainter &)> &draw);

  const QImage &Image() const { return fImage; }
  // Direct pixel access for decoders; no change is signalled.
  QImage &RawImage() { return fImage; }
  void NotifyChanged() { Changed(); }

private:
  QImage fImage;
  QImage::Format fFormat = QImage::Format_RGB32; // of an image still to be sized
  int fPaletteCount = 0;
  QList<QRgb> fPendingPalette; // palette given before the image was sized
};

// A Windows icon file (.ico).
class TIcon : public TGraphic {
public:
  const char *ClassName() const override { return "TIcon"; }
  void Assign(const TGraphic *source) override;
  void Draw(QPainter &painter, const QRect &rect) const override;
  bool GetEmpty() const override { return fImage.isNull(); }
  int GetHeight() const override { return fImage.height(); }
  int GetWidth() const override { return fImage.width(); }
  // An icon's size is its image's: raises EInvalidGraphicOperation "Cannot change the size of an
  // icon".
  void SetHeight(int value) override;
  void SetWidth(int value) override;
  void LoadFromStream(TStream &stream) override;
  void SaveToStream(TStream &stream) const override;
  QImage ToImage() const override { return fImage; }

private:
  QImage fImage;
  std::vector<uint8_t> fBytes; // the file as loaded, saved back unchanged
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TFileFormat {
  std::string Extension; // lower case, without the dot
  std::string Description;
  TGraphicFactory Create;
};

// Holds one picture of any registered class.
class TPicture {
public:
  TPicture() = default;
  TPicture(const TPicture &) = delete;
  TPicture &operator=(const TPicture &) = delete;
  ~TPicture();

  TGraphic *Graphic() const { return fGraphic.get(); }
  // Takes ownership (nullptr empties the picture); signals a change.
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  // The picture as a bitmap: a picture of another class is replaced by an empty bitmap.
  TBitmap *Bitmap();
  int Width() const { return fGraphic ? fGraphic->Width() : 0; }
  int Height() const { return fGraphic ? fGraphic->Height() : 0; }

  // Creates the class registered for the file's extension and loads the file. An
  // extension without a class raises EInvalidGraphic "Unknown picture file extension (.%s)";
  // a failed load leaves the picture empty and passes the error on.
  void LoadFromFile(const std::string &fileName);
  // Writes the picture; an empty picture writes nothing.
  void SaveToFile(const std::string &fileName) const;

  std::function<void(TPicture *sender)> OnChange;

  // The registry. A second registration of an extension replaces the first.
  static void RegisterFileFormat(const std::string &extension, const std::string &description,
                                 TGraphicFactory create);
  template <class T>
  static void RegisterFileFormat(const std::string &extension, const std::string &description) {
    RegisterFileFormat(extension, description, [] { return std::unique_ptr<TGraphic>(new T); });
  }
  static void UnregisterFileFormat(const std::string &extension);
  // The format of an extension (with or without its dot, any case), or nullptr.
  static const TFileFormat *FindFileFormat(const std::string &extension);
  static std::vector<TFileFormat> FileFormats();

private:
  void GraphicChanged();
  std::unique_ptr<TGraphic> fGraphic;
};

// The application's standard exception display, reached by components that must report
// an error and carry on (timer callbacks, picture extensions). The application installs
// its error report here; until then the message goes to standard error.
void ApplicationHandleException(const std::exception &e);
void SetApplicationExceptionHandler(std::function<void(const std::exception &)> handler);

} // namespace plm
