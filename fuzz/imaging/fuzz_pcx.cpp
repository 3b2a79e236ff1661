// TPCXImage loading on arbitrary bytes: the decoder stays inside its buffers, ends, raises
// nothing but EInvalidGraphic, gives the size the header asks for, and a picture it reads
// is saved and read back to the same pixels.
#include "imaging/PCXImage.h"
#include "platform/Exceptions.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/Streams.h"

#include <QImage>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Small pictures keep each input cheap; the limit itself is tested elsewhere.
  plm::MaxPictureBytes = 1 << 22;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  plm::TMemoryStream m(std::vector<uint8_t>(data, data + size));
  plm::TPCXImage pcx;
  try {
    pcx.LoadFromStream(m);
  } catch (const plm::EInvalidGraphic &) {
    return 0; // a damaged file, refused with its reason
  }
  const QImage image = pcx.ToImage().convertToFormat(QImage::Format_RGB32);
  const int width = (data[8] | data[9] << 8) - (data[4] | data[5] << 8) + 1;
  const int height = (data[10] | data[11] << 8) - (data[6] | data[7] << 8) + 1;
  if (image.width() != width || image.height() != height) __builtin_trap();
  if (width > 65535) return 0; // two-colour lines can be wider than a PCX of 8 bits holds
  plm::TMemoryStream saved;
  pcx.SaveToStream(saved);
  saved.SetPosition(0);
  plm::TPCXImage again;
  again.LoadFromStream(saved);
  if (again.ToImage().convertToFormat(QImage::Format_RGB32) != image) __builtin_trap();
  return 0;
}
