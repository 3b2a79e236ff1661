#include "PcxFixtures.h"

namespace fixtures {

namespace {

void Le16(std::vector<uint8_t> &b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// The byte value of plane p for one pixel: a colour channel, or the plane's bits of the index.
uint32_t PlaneValue(const Pcx &pcx, uint32_t pixel, int p) {
  if (pcx.bits == 8 && pcx.planes == 3) return (pixel >> (16 - 8 * p)) & 0xFF;
  return (pixel >> (p * pcx.bits)) & ((1u << pcx.bits) - 1);
}

} // namespace

std::vector<uint8_t> Encode(const Pcx &pcx) {
  int bpl = pcx.bytesPerLine;
  if (bpl == 0) bpl = ((pcx.width * pcx.bits + 7) / 8 + 1) & ~1;
  std::vector<uint8_t> b = {0x0A, uint8_t(pcx.version), uint8_t(pcx.encoding), uint8_t(pcx.bits)};
  Le16(b, pcx.xmin);
  Le16(b, pcx.ymin);
  Le16(b, pcx.xmin + pcx.width - 1);
  Le16(b, pcx.ymin + pcx.height - 1);
  Le16(b, 96);
  Le16(b, 96);
  for (size_t i = 0; i < 16; ++i) {
    const QRgb c = i < pcx.headerColors.size() ? pcx.headerColors[i] : 0;
    b.insert(b.end(), {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
  }
  b.push_back(0);
  b.push_back(uint8_t(pcx.planes));
  Le16(b, bpl);
  Le16(b, 1);
  b.resize(128, 0);
  for (int y = 0; y < (pcx.pixels.empty() ? 0 : pcx.height); ++y) {
    for (int p = 0; p < pcx.planes; ++p) {
      std::vector<uint8_t> line(size_t(bpl), 0);
      for (int x = 0; x < pcx.width; ++x) {
        const uint32_t v = PlaneValue(pcx, pcx.pixels[size_t(y * pcx.width + x)], p);
        const int bit = x * pcx.bits;
        if (bit / 8 >= bpl) break; // lines made too short on purpose
        line[size_t(bit / 8)] |= uint8_t(v << (8 - pcx.bits - bit % 8));
      }
      for (size_t i = 0; i < line.size();) {
        size_t run = 1;
        while (pcx.encoding == 1 && i + run < line.size() && run < 63 && line[i + run] == line[i])
          ++run;
        if (pcx.encoding == 1 && (run > 1 || line[i] >= 0xC0)) b.push_back(uint8_t(0xC0 + run));
        b.push_back(line[i]);
        i += run;
      }
    }
  }
  if (!pcx.trailingColors.empty()) {
    b.push_back(0x0C);
    for (size_t i = 0; i < 256; ++i) {
      const QRgb c = i < pcx.trailingColors.size() ? pcx.trailingColors[i] : 0;
      b.insert(b.end(), {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
    }
  }
  return b;
}

std::vector<uint32_t> PcxPixels(int w, int h, int colours, uint32_t seed) {
  std::vector<uint32_t> v(size_t(w) * size_t(h));
  uint32_t s = seed * 2654435761u + 1;
  for (size_t i = 0; i < v.size(); ++i) {
    // Runs of equal pixels now and then, so that the encoder writes runs too.
    if (i > 0 && (s >> 28) < 5) {
      v[i] = v[i - 1];
    } else {
      v[i] = colours ? (s >> 8) % uint32_t(colours) : (s >> 4) & 0xFFFFFF;
    }
    s = s * 1664525u + 1013904223u;
  }
  return v;
}

} // namespace fixtures
