#pragma once
// The image header inspector: type, size and colour depth of a picture file read from its
// header, without decoding pixels. It never raises: anything it cannot read is reported as
// the unknown type with zero sizes.
#include <cstdint>
#include <string>

namespace plm {

class TStream;

// ImageType codes.
enum : uint8_t {
  itUnknownCode = 0,
  itGIFCode = 1,
  itJPEGCode = 2,
  itPNGCode = 3,
  itBMPCode = 4,
  itPCXCode = 5,
  itTIFFCode = 6,
};

// The name ("GIF", "JPEG", "PNG", "BMP", "PCX", "TIFF") and MIME type of a type code;
// "" and nullptr for the unknown type.
const char *PictureTypeName(uint8_t imageType);
const char *PictureMimeType(uint8_t imageType);

class TDCImageInfo {
public:
  // Inspects the file and fills the fields; never raises.
  void ReadInfo(const std::string &fileName);
  // The same over a stream from its start (a picture held in memory); FileSize is the
  // stream's size.
  void ReadInfo(TStream &stream);
  // ImageType, Width, Height and Depth to 0; FileSize is left alone.
  void ClearInfo();

  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Depth = 0;
  uint8_t ImageType = 0; // 0 unknown, 1 GIF, 2 JPEG, 3 PNG, 4 BMP, 5 PCX, 6 TIFF
  int64_t FileSize = 0;  // bytes; 64-bit so that a file above 2 GiB is not reported negative
};

// The five lines the pictures list shows for a picture ("Image Type: GIF", "Width:120",
// "Height:60", "Depth:8", "File Size:2345 octets"), joined by separator, none after the last.
std::string ImageInfoText(const TDCImageInfo &info, const std::string &separator = "\r\n");

} // namespace plm
