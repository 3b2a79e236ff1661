#pragma once
// PCX files written byte by byte for the tests and the fuzzing corpus, independently of the
// program's own encoder: any header, any of the bit and plane layouts, RLE or stored.
#include <QRgb>

#include <cstdint>
#include <vector>

namespace fixtures {

struct Pcx {
  int version = 5;
  int encoding = 1; // 1 run-length encoded (runs kept inside a line), 0 stored
  int bits = 8, planes = 1;
  int xmin = 0, ymin = 0, width = 0, height = 0;
  int bytesPerLine = 0;             // 0: the fewest bytes the width needs, made even
  std::vector<QRgb> headerColors;   // up to 16, at offset 16
  std::vector<QRgb> trailingColors; // after the data with its marker byte; none when empty
  // Row by row: colour indices, or 0xRRGGBB for 8 bits x 3 planes. Plane p of an indexed
  // layout holds bits p * bits and up of the index. None: the header alone.
  std::vector<uint32_t> pixels;
};

std::vector<uint8_t> Encode(const Pcx &pcx);

// w x h values below colours (or any RGB value when colours is 0), deterministic.
std::vector<uint32_t> PcxPixels(int w, int h, int colours, uint32_t seed);

} // namespace fixtures
