#pragma once
// PCX pictures, decoded at load into a bitmap: 1 bit (two colours of the header, black and
// white when it has none), 4 bits (four bit planes or packed pairs, with the header's 16
// colours, the EGA colours when it has none), 8 bits (with the 256-colour table at the end
// of the file, shades of grey without one) and 24 bits (three colour planes), run-length
// encoded or stored. Saved as an 8-bit picture with its colour table, or as a 24-bit one,
// run-length encoded. Registered for the extension "pcx" (imaging/PictureClasses.h).
#include "platform/graphics/Graphics.h"

#include <cstdint>
#include <vector>

namespace plm {

class TMemoryStream;

class TPCXImage : public TBitmap {
public:
  TPCXImage();
  const char *ClassName() const override { return "TPCXImage"; }
  // Takes the bytes from the stream's position to its end; raises as DecodePCX.
  void LoadFromStream(TStream &stream) override;
  // Raises EInvalidGraphicOperation as EncodePCX.
  void SaveToStream(TStream &stream) const override;
};

// The picture held by a whole PCX file: an 8-bit indexed image with the picture's colours
// (2, 16 or 256 of them), or a 32-bit RGB image. Every failure is an EInvalidGraphic:
//   "PCX header is incomplete"                      fewer than 128 bytes
//   "Invalid PCX signature: $%X"                    first byte other than $0A
//   "Unsupported PCX encoding: %d"                  encoding other than 0 (stored) or 1 (RLE)
//   "Unsupported PCX format: %d bits, %d planes"    not 1x1, 1x4, 4x1, 8x1 or 8x3
//   "Invalid PCX image size: %d x %d"               a window whose end lies before its start
//   "Invalid PCX line length: %d (at least %d)"     lines too short for the width
//   "PCX picture too large (more than %lld pixels)" past MaxPictureBytes
//   "PCX image data is truncated"                   the pixels run past the end of the file
//   "PCX colour table is truncated"                 the 256 colours after them are cut short
QImage DecodePCX(TMemoryStream &data);

// The bytes of a PCX file holding image: 8 bits with its colour table for an indexed image,
// 24 bits for any other. Raises EInvalidGraphicOperation "Cannot save an empty bitmap", or
// "PCX pictures are limited to 65535 x 65536 pixels".
std::vector<uint8_t> EncodePCX(const QImage &image);

} // namespace plm
