#pragma once
// Bitmaps read from PNG and TIFF files through Qt's image readers, and the reading they
// share with the BMP class: the format is the one named (never guessed from the content),
// the picture's size is checked before its pixels are allocated, and a file whose pixels
// are cut short is refused whole instead of showing what happens to be in memory.
// Registered for the extensions "png", "tif" and "tiff" (imaging/PictureClasses.h).
#include "platform/graphics/Graphics.h"

#include <cstdint>

namespace plm {

class TStream;

// The largest picture accepted, in bytes of decoded pixels: 256 MiB, as Qt's own readers
// allow (2^28 pixels of one byte, 2^26 of four). Fuzzing lowers it.
extern int64_t MaxPictureBytes;

// Raises EInvalidGraphic "<name> picture too large (more than %lld pixels)" when a picture
// of width x height at bitsPerPixel would pass MaxPictureBytes.
void CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, const char *name);

// Reads the bytes from the stream's position to its end as a picture of the Qt format
// ("bmp", "png", "tiff"). Raises EInvalidGraphic "<name> image is not valid" when they are
// not one, "<name> image is truncated" when a bitmap's pixels run past the end of the bytes,
// and the error of CheckPictureSize.
QImage ReadPicture(TStream &stream, const char *format, const char *name);
// Writes image in the Qt format. Raises EInvalidGraphicOperation "Cannot save an empty
// bitmap", or "Cannot write <name> image" when the encoder fails.
void WritePicture(TStream &stream, const QImage &image, const char *format, const char *name);

class TPNGImage : public TBitmap {
public:
  const char *ClassName() const override { return "TPNGImage"; }
  void LoadFromStream(TStream &stream) override;
  void SaveToStream(TStream &stream) const override;
};

// The first image of the file; saved as a one-image TIFF.
class TTIFFImage : public TBitmap {
public:
  const char *ClassName() const override { return "TTIFFImage"; }
  void LoadFromStream(TStream &stream) override;
  void SaveToStream(TStream &stream) const override;
};

} // namespace plm
