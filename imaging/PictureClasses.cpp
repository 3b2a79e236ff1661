#include "imaging/PictureClasses.h"

#include "imaging/JPEGImage.h"
#include "imaging/MPGifImg.h"
#include "imaging/PCXImage.h"
#include "platform/graphics/Graphics.h"
#include "platform/graphics/PictureFormats.h"

namespace plm {

void RegisterPictureClasses() {
  static const bool registered = [] {
    TPicture::RegisterFileFormat<TBitmap>("bmp", "Bitmaps");
    TPicture::RegisterFileFormat<TIcon>("ico", "Icons");
    TPicture::RegisterFileFormat<TPNGImage>("png", "Portable Network Graphics");
    for (const char *ext : {"tif", "tiff"})
      TPicture::RegisterFileFormat<TTIFFImage>(ext, "Tagged Image File Format");
    TPicture::RegisterFileFormat<TGIFImage>("gif", "Graphics Interchange Format");
    for (const char *ext : {"jpg", "jpeg", "jpe", "jfif"})
      TPicture::RegisterFileFormat<TJPEGImage>(ext, "JPEG Image File");
    TPicture::RegisterFileFormat<TPCXImage>("pcx", "PC Paintbrush");
    return true;
  }();
  (void)registered;
}

} // namespace plm
